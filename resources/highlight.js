/*
 * Lumeno+ find-in-page marks.
 *
 * Runs in the reader's own script world, apart from the page's scripts: the page can neither
 * see nor replace these functions, and they work with page scripts turned off. The reader calls
 *   highlight(node, text)       marks every occurrence of text below node; answers the count
 *   scrollToHighlight(direction) 1: next mark, -1: previous one (both wrap around); scrolls it
 *                               into view and answers "index/count" (1-based; "0/0" unmarked)
 *   removeHighlight()           takes every mark away, leaving the page as it was
 *
 * Matching ignores case and treats any run of white space in the text as any run of white
 * space on the page, as the page shows it. A match may cross inline elements ("lan<b>tern</b>")
 * but not the edge of a block, so words of two paragraphs never join. Script, style, text
 * areas and the like hold no visible text and are left alone.
 *
 * A mark is a <span class="lumeno-highlight"> around the matched text (several spans when the
 * match crosses elements). Removing them merges the text nodes that marking split back into
 * the node they came from, so a text node a page script holds still reads as before.
 *
 * Running this file again in the same page keeps the functions and the marks already made.
 */
(function () {
    'use strict';
    if (typeof window.highlight === 'function')
        return;

    var MARK_CLASS = 'lumeno-highlight';
    var CURRENT_CLASS = 'lumeno-highlight-current';
    var MARK_BACKGROUND = '#ffe566';
    var CURRENT_BACKGROUND = '#ff9a3c';

    // Elements whose text is not shown as page text.
    var SKIPPED = {
        SCRIPT: true, STYLE: true, TEXTAREA: true, NOSCRIPT: true, TEMPLATE: true,
        SELECT: true, OPTION: true, IFRAME: true, OBJECT: true, SVG: true, MATH: true
    };
    // Elements that flow inside a line; every other element ends a run of text.
    var INLINE = {
        A: true, ABBR: true, ACRONYM: true, B: true, BDI: true, BDO: true, BIG: true,
        CITE: true, CODE: true, DATA: true, DFN: true, EM: true, FONT: true, I: true,
        INS: true, DEL: true, KBD: true, LABEL: true, MARK: true, NOBR: true, Q: true,
        RUBY: true, S: true, SAMP: true, SMALL: true, SPAN: true, STRIKE: true, STRONG: true,
        SUB: true, SUP: true, TIME: true, TT: true, U: true, VAR: true
    };

    // The marks of the current document: one array of spans per match, in document order.
    var marks = [];
    var current = -1;
    // Each text node marking split, with the nodes split off it in document order.
    var splits = [];

    // Lower case that keeps every offset: a character whose lower case is longer stays as is.
    function fold(text) {
        var lower = text.toLowerCase();
        if (lower.length === text.length)
            return lower;
        var out = '';
        for (var i = 0; i < text.length; ++i) {
            var c = text.charAt(i).toLowerCase();
            out += c.length === 1 ? c : text.charAt(i);
        }
        return out;
    }

    function patternFor(text) {
        var parts = fold(text).split(/\s+/);
        for (var i = 0; i < parts.length; ++i)
            parts[i] = parts[i].replace(/[.*+?^${}()|[\]\\\/]/g, '\\$&');
        return new RegExp(parts.join('\\s+'), 'g');
    }

    // The text nodes below root, grouped into runs that the page shows as one flow of text.
    function collectRuns(root) {
        var runs = [];
        var run = [];
        function endRun() {
            if (run.length)
                runs.push(run);
            run = [];
        }
        function walk(node) {
            for (var child = node.firstChild; child; child = child.nextSibling) {
                if (child.nodeType === Node.TEXT_NODE) {
                    if (child.data.length)
                        run.push(child);
                } else if (child.nodeType === Node.ELEMENT_NODE) {
                    var tag = child.tagName.toUpperCase();
                    if (SKIPPED[tag])
                        continue;
                    if (INLINE[tag]) {
                        walk(child);
                    } else {
                        endRun();
                        walk(child);
                        endRun();
                    }
                }
            }
        }
        if (root.nodeType === Node.TEXT_NODE)
            run.push(root);
        else
            walk(root);
        endRun();
        return runs;
    }

    function styleMark(span, isCurrent) {
        span.style.setProperty('background-color', isCurrent ? CURRENT_BACKGROUND : MARK_BACKGROUND,
                               'important');
        span.style.setProperty('color', '#000', 'important');
        if (isCurrent)
            span.classList.add(CURRENT_CLASS);
        else
            span.classList.remove(CURRENT_CLASS);
    }

    // Wraps the pieces [start, end) of one text node, given right to left, in spans. Answers
    // the spans in the same order.
    function wrapPieces(node, pieces) {
        var made = [];
        var splitOff = [];
        for (var i = 0; i < pieces.length; ++i) {
            var start = pieces[i][0];
            var end = pieces[i][1];
            if (end < node.data.length)
                splitOff.unshift(node.splitText(end));
            var middle = node;
            if (start > 0) {
                middle = node.splitText(start);
                splitOff.unshift(middle);
            }
            var span = node.ownerDocument.createElement('span');
            span.className = MARK_CLASS;
            styleMark(span, false);
            middle.parentNode.insertBefore(span, middle);
            span.appendChild(middle);
            made.push(span);
        }
        if (splitOff.length)
            splits.push({node: node, pieces: splitOff});
        return made;
    }

    function markRun(run, pattern) {
        var starts = [];
        var text = '';
        for (var i = 0; i < run.length; ++i) {
            starts.push(text.length);
            text += run[i].data;
        }
        starts.push(text.length);
        var folded = fold(text);
        var found = [];
        pattern.lastIndex = 0;
        var m;
        while ((m = pattern.exec(folded)) !== null) {
            if (m[0].length === 0) {
                pattern.lastIndex += 1;
                continue;
            }
            found.push([m.index, m.index + m[0].length]);
        }
        if (!found.length)
            return [];

        // The pieces of each node, per match.
        var piecesOf = [];
        for (var n = 0; n < run.length; ++n)
            piecesOf.push([]);
        var node = 0;
        for (var f = 0; f < found.length; ++f) {
            while (starts[node + 1] <= found[f][0])
                ++node;
            for (var k = node; k < run.length && starts[k] < found[f][1]; ++k) {
                var from = Math.max(found[f][0], starts[k]) - starts[k];
                var to = Math.min(found[f][1], starts[k + 1]) - starts[k];
                if (to > from)
                    piecesOf[k].push([from, to, f]);
            }
        }

        // Right to left, so the offsets still to wrap stay valid after each split.
        var spansOf = [];
        for (var s = 0; s < found.length; ++s)
            spansOf.push([]);
        for (var j = run.length - 1; j >= 0; --j) {
            var pieces = piecesOf[j].reverse();
            if (!pieces.length)
                continue;
            var spans = wrapPieces(run[j], pieces);
            for (var p = 0; p < spans.length; ++p)
                spansOf[pieces[p][2]].unshift(spans[p]);
        }
        return spansOf;
    }

    function liveMarks() {
        marks = marks.filter(function (spans) {
            return spans.length && spans[0].isConnected;
        });
        return marks;
    }

    function showCurrent(isCurrent) {
        if (current < 0 || current >= marks.length)
            return;
        marks[current].forEach(function (span) {
            styleMark(span, isCurrent);
        });
    }

    window.removeHighlight = function () {
        marks.forEach(function (spans) {
            spans.forEach(function (span) {
                var parent = span.parentNode;
                if (!parent)
                    return;
                while (span.firstChild)
                    parent.insertBefore(span.firstChild, span);
                parent.removeChild(span);
            });
        });
        // Back into the node they came from, as long as the page has not moved them apart.
        for (var i = splits.length - 1; i >= 0; --i) {
            var node = splits[i].node;
            var pieces = splits[i].pieces;
            for (var p = 0; p < pieces.length; ++p) {
                if (node.nextSibling !== pieces[p])
                    break;
                node.appendData(pieces[p].data);
                pieces[p].parentNode.removeChild(pieces[p]);
            }
        }
        marks = [];
        splits = [];
        current = -1;
    };

    window.highlight = function (node, text) {
        window.removeHighlight();
        if (!node || typeof text !== 'string' || !text.length)
            return 0;
        var pattern = patternFor(text);
        var runs = collectRuns(node);
        for (var r = 0; r < runs.length; ++r) {
            var found = markRun(runs[r], pattern);
            for (var i = 0; i < found.length; ++i)
                marks.push(found[i]);
        }
        return marks.length;
    };

    window.scrollToHighlight = function (direction) {
        showCurrent(false);
        var count = liveMarks().length;
        if (!count) {
            current = -1;
            return '0/0';
        }
        if (current >= count)
            current = count - 1;
        if (direction < 0)
            current = current <= 0 ? count - 1 : current - 1;
        else if (direction > 0 || current < 0)
            current = current + 1 >= count ? 0 : current + 1;
        showCurrent(true);
        marks[current][0].scrollIntoView({block: 'center', inline: 'nearest'});
        return (current + 1) + '/' + count;
    };
})();
