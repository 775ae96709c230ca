// The text a reader sees on an HTML page, for the search index.
//
// One forward pass over the decoded page, no tree: tags, comments, declarations and the contents
// of <script> and <style> are dropped; character references (&amp; &#233; &#xE9; and the named
// Latin-1 and common typographic entities) become their characters. A tag that breaks a line or
// a block leaves a space so that words on either side stay apart; inline tags (<b>, <a>,
// <span>, ...) leave nothing, so a word split by formatting stays one word. Unterminated markup
// runs to the end of the page, as browsers read it. Never fails; safe from any thread.
#pragma once

#include <QString>

class HTMLTextExtractor {
public:
    static QString visibleText(const QString& html);
};
