#!/usr/bin/env python3
"""Writes a large HTML Help project and compiles it with chmcmd into one .chm file.

The book stands in for the biggest manuals a reader meets: TOPICS table-of-contents entries in
chapters of CHAPTER_SIZE, as many index keywords, and PAGES small pages of English-like text.
When there are fewer pages than topics, topics point at anchors spread over the pages. The text
comes from a seeded generator, so every build writes the same book.

With --realistic the pages read like a real manual's instead: about 25,000 distinct words drawn
in a Zipf-like distribution (the common English words first, then made-up words with their
inflected forms), 300 to 700 words a page, and a share of pages in Cyrillic and in Chinese, each
page in UTF-8 and declaring it.

usage: make_book.py --chmcmd PATH --work DIR --out FILE.chm [--topics N] [--pages N] [--realistic]
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys

SEED = 20000
CHAPTER_SIZE = 100

WORDS = """
about above across action after again against age ago agree air all almost alone along already
also always among amount angle animal answer any appear apply area argue arm around arrive art
ask at attach attempt away back bad balance base basic bear beat become before begin behind
believe below best better between big bird bit black block blood blow blue board boat body bone
book border both bottom box branch bread break bridge bright bring broad brother brown build
burn business busy buy call camp can capital captain card care carry case catch cause cell
center century certain chair chance change character charge chart check chief child choose
circle city claim class clean clear climb clock close cloud coast cold collect colony color
column come common company compare complete condition connect consider contain continue control
cook cool copy corn corner correct cost cotton count country course cover cross crowd current
cut dance danger dark day dead deal dear decide decimal deep degree depend describe desert design
detail develop dictionary differ direct discuss distant divide doctor dog door double down draw
dream dress drink drive drop dry during each early earth east edge effect egg eight either
electric element else end enemy energy engine enough enter equal equate even evening event ever
every exact example except excite exercise expect experience experiment explain eye face fact
fair fall family famous farm fast father favor fear feed feel field fight figure fill final find
fine finger finish fire first fish fit five flat floor flow flower fly follow food foot force
forest form forward found fraction free fresh friend front fruit full game garden gather general
gentle glad glass gold good govern grand grass great green ground group grow guess guide half
hand happen happy hard head hear heart heat heavy help high hill history hold hole home hope
horse hot hour house huge human hundred hunt idea imagine inch include indicate industry insect
instant instrument interest invent iron island join joy jump keep key kind king know lady lake
land language large last late laugh law lay lead learn leave left length letter level lie life
lift light like line liquid list listen little live locate log long look lost loud love low
machine magnet main major make many map mark market mass master match matter mean measure meat
meet melody metal method middle might mile milk million mind minute miss mix modern molecule
moment money month moon morning mother motion mount mountain mouth move music name nation
natural nature near necessary neck need neighbor never new next night nine noise noon north
nose note nothing notice noun number object observe ocean offer office often oil old open
operate opposite order organ original other outside oxygen page paint pair paper paragraph
parent part particular party pass past path pattern pay people perhaps period person phrase pick
picture piece pitch place plain plan plane planet plant play please plural poem point poor
populate port pose position possible post pound power practice prepare present press pretty
print probable problem process produce product proper property protect prove provide pull push
quart question quick quiet quite quotient race radio rail rain raise range rather reach read
ready real reason receive record region remember repeat reply represent require rest result rich
ride right ring rise river road rock roll room root rope rose round row rule safe sail salt same
sand save say scale school science score sea search season seat second section see seed seem
segment select self sell send sense sentence separate serve settle seven several shape share
sharp sheet shell shine ship shoe shop shore short shoulder show side sight sign silent silver
similar simple since sing single sister size skill skin sky sleep slip slow small smell smile
snow soft soil soldier solution solve some song soon sound south space speak special speech
speed spell spend spot spread spring square stand star start state station stay stead steam
steel step stick still stone stop store story straight strange stream street stretch string
strong student study subject substance subtract success sudden suffix sugar suggest suit summer
sun supply support sure surface surprise swim syllable symbol system table tail take talk teach
team teeth tell temperature term test thank thick thin thing third thought thousand three through
throw tie time tiny together tone tool total touch toward town track trade train travel tree
triangle trip trouble truck true try tube turn twenty type under unit until upon use usual valley
value vary verb very view village visit voice vowel wait walk wall want warm wash watch water wave
way wear weather weight well west wheel where whether while white whole wide wild will win wind
window wing winter wire wish woman wonder wood word work world write yard year yellow young
""".split()


# The realistic vocabulary: syllables that make pronounceable words, Latin and Cyrillic.
ONSETS = "b bl br c ch cl cr d dr f fl fr g gl gr h j k l m n p pl pr qu r s sc sh sl sp st str t th tr v w z".split()
NUCLEI = "a e i o u ai ea ee ie oa ou".split()
CODAS = ["", "", "", "n", "r", "s", "t", "l", "m", "nd", "nt", "st", "ck", "ng", "rt"]
SUFFIXES = ["", "", "s", "ed", "ing", "er", "ation", "ly"]
CYR_ONSETS = "б в г д ж з к л м н п р с т ф х ц ч ш щ бр гр др пр ст тр".split()
CYR_NUCLEI = "а е и о у ы я ю э".split()
CYR_ENDINGS = ["", "а", "у", "ом", "е", "ы", "ов", "ами", "ах", "ой", "ий", "ая", "ть"]
ZIPF_EXPONENT = 1.07
VOCABULARY_SIZE = 25000
CJK_FIRST, CJK_COUNT = 0x4E00, 3500


def made_up_words(rng, count, onsets, nuclei, codas, endings, seen):
    words = []
    while len(words) < count:
        stem = "".join(
            rng.choice(onsets) + rng.choice(nuclei) + rng.choice(codas)
            for _ in range(rng.choice((1, 2, 2, 3, 3, 4)))
        )
        # Several inflected forms of one stem, as a language has them.
        for ending in rng.sample(endings, rng.randint(1, 3)):
            word = stem + ending
            if word not in seen and len(words) < count:
                seen.add(word)
                words.append(word)
    return words


class Vocabulary:
    """Words ranked by frequency, and a draw that follows Zipf's law over the ranks."""

    def __init__(self, rng, words):
        self.words = words
        weights = [1.0 / (rank + 1) ** ZIPF_EXPONENT for rank in range(len(words))]
        self.cumulative = []
        total = 0.0
        for w in weights:
            total += w
            self.cumulative.append(total)

    def draw(self, rng, count):
        return rng.choices(self.words, cum_weights=self.cumulative, k=count)


def realistic_vocabularies(rng):
    seen = set(WORDS)
    latin = list(WORDS) + made_up_words(
        rng, VOCABULARY_SIZE - len(WORDS) - 3000, ONSETS, NUCLEI, CODAS, SUFFIXES, seen
    )
    cyrillic = made_up_words(rng, 3000, CYR_ONSETS, CYR_NUCLEI, [""] * 3 + ["н", "р", "л", "ст"],
                             CYR_ENDINGS, seen)
    chinese = [chr(CJK_FIRST + i) for i in rng.sample(range(20902), CJK_COUNT)]
    return Vocabulary(rng, latin), Vocabulary(rng, cyrillic), Vocabulary(rng, chinese)


def realistic_paragraph(rng, vocabulary, script, words):
    drawn = vocabulary.draw(rng, words)
    if script == "zh":
        return "".join(drawn) + "。"
    sentences, start = [], 0
    while start < len(drawn):
        length = rng.randint(8, 24)
        sentences.append(" ".join(drawn[start : start + length]).capitalize() + ".")
        start += length
    return " ".join(sentences)


def script_of(page):
    # One page in twenty is Russian, one in forty Chinese; the rest English.
    if page % 20 == 7:
        return "ru"
    if page % 40 == 13:
        return "zh"
    return "en"


def write_realistic_pages(rng, work, pages, topics, titles, vocabularies):
    anchors = [[] for _ in range(pages)]
    for topic in range(topics):
        anchors[topic * pages // topics].append(topic)
    for page in range(pages):
        path = os.path.join(work, page_path(page))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        heading = titles[anchors[page][0]] if anchors[page] else title(rng)
        script = script_of(page)
        vocabulary = vocabularies[("en", "ru", "zh").index(script)]
        budget = rng.randint(300, 700)
        body = []
        for topic in anchors[page] or [None]:
            if topic is not None and len(anchors[page]) > 1:
                body.append('<h2><a name="t%05d">%s</a></h2>' % (topic, escape(titles[topic])))
            share = budget // max(1, len(anchors[page]))
            while share > 0:
                words = min(share, rng.randint(40, 120))
                body.append("<p>%s</p>" % escape(realistic_paragraph(rng, vocabulary, script, words)))
                share -= words
        with open(path, "w", encoding="utf-8", newline="\r\n") as f:
            f.write(
                '<html><head><meta http-equiv="Content-Type" content="text/html; charset=utf-8">'
                "<title>%s</title></head>\n<body>\n<h1>%s</h1>\n%s\n</body></html>\n"
                % (escape(heading), escape(heading), "\n".join(body))
            )


def phrase(rng, low, high):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(low, high)))


def title(rng):
    return phrase(rng, 2, 4).capitalize()


def escape(text):
    return text.replace("&", "&amp;").replace('"', "&quot;").replace("<", "&lt;")


def page_path(page):
    return "c%03d/p%05d.htm" % (page // CHAPTER_SIZE, page)


def write_pages(rng, work, pages, topics, titles):
    """Writes every page; a page holds one anchor per topic that points into it."""
    anchors = [[] for _ in range(pages)]
    for topic in range(topics):
        anchors[topic * pages // topics].append(topic)
    for page in range(pages):
        path = os.path.join(work, page_path(page))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        heading = titles[anchors[page][0]] if anchors[page] else title(rng)
        body = []
        for topic in anchors[page] or [None]:
            if topic is not None and len(anchors[page]) > 1:
                body.append('<h2><a name="t%05d">%s</a></h2>' % (topic, escape(titles[topic])))
            for _ in range(rng.randint(2, 3)):
                body.append("<p>%s.</p>" % phrase(rng, 12, 28).capitalize())
        with open(path, "w", encoding="ascii", newline="\r\n") as f:
            f.write(
                "<html><head><title>%s</title></head>\n<body>\n<h1>%s</h1>\n%s\n</body></html>\n"
                % (escape(heading), escape(heading), "\n".join(body))
            )


def topic_local(topic, pages, topics):
    page = topic * pages // topics
    if pages == topics:
        return page_path(page)
    return "%s#t%05d" % (page_path(page), topic)


def sitemap_head():
    return (
        '<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">\n<HTML>\n<HEAD>\n'
        '<meta name="GENERATOR" content="make_book.py">\n</HEAD>\n<BODY>\n'
        '<OBJECT type="text/site properties">\n'
        '\t<param name="ImageType" value="Folder">\n</OBJECT>\n'
    )


def entry(indent, name_kind, name, local):
    return (
        '%s<LI> <OBJECT type="text/sitemap">\n'
        '%s\t<param name="%s" value="%s">\n'
        '%s\t<param name="Local" value="%s">\n'
        "%s\t</OBJECT>\n" % (indent, indent, name_kind, escape(name), indent, local, indent)
    )


def write_contents(work, pages, topics, titles, chapter_titles):
    out = [sitemap_head(), "<UL>\n"]
    for chapter, first in enumerate(range(0, topics, CHAPTER_SIZE)):
        out.append(entry("\t", "Name", chapter_titles[chapter], topic_local(first, pages, topics)))
        out.append("\t<UL>\n")
        for topic in range(first, min(first + CHAPTER_SIZE, topics)):
            out.append(entry("\t\t", "Name", titles[topic], topic_local(topic, pages, topics)))
        out.append("\t</UL>\n")
    out.append("</UL>\n</BODY></HTML>\n")
    with open(os.path.join(work, "book20k.hhc"), "w", encoding="ascii", newline="\r\n") as f:
        f.write("".join(out))


def write_index(rng, work, pages, topics, titles):
    out = [sitemap_head(), "<UL>\n"]
    for topic in range(topics):
        # Keywords repeat words across topics, as real indexes do; the number keeps each unique.
        keyword = "%s %s %d" % (rng.choice(WORDS), titles[topic].split()[0].lower(), topic)
        out.append(entry("\t", "Keyword", keyword, topic_local(topic, pages, topics)))
    out.append("</UL>\n</BODY></HTML>\n")
    with open(os.path.join(work, "book20k.hhk"), "w", encoding="ascii", newline="\r\n") as f:
        f.write("".join(out))


def write_project(work, pages):
    lines = [
        "[OPTIONS]",
        "Compatibility=1.1 or later",
        "Compiled file=book20k.chm",
        "Contents file=book20k.hhc",
        "Index file=book20k.hhk",
        "Default topic=%s" % page_path(0),
        "Display compile progress=No",
        "Full-text search=No",
        "Language=0x409 English (United States)",
        "Title=Lumeno+ Benchmark Book",
        "",
        "[FILES]",
    ]
    lines += [page_path(page) for page in range(pages)]
    with open(os.path.join(work, "book20k.hhp"), "w", encoding="ascii", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--chmcmd", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--topics", type=int, default=20000)
    parser.add_argument("--pages", type=int, default=20000)
    parser.add_argument("--realistic", action="store_true")
    args = parser.parse_args()
    if not 0 < args.pages <= args.topics:
        sys.exit("make_book.py: pages must be between 1 and the number of topics")

    rng = random.Random(SEED)
    titles = [title(rng) for _ in range(args.topics)]
    chapter_titles = [title(rng) for _ in range(0, args.topics, CHAPTER_SIZE)]
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    if args.realistic:
        vocabularies = realistic_vocabularies(rng)
        write_realistic_pages(rng, args.work, args.pages, args.topics, titles, vocabularies)
    else:
        write_pages(rng, args.work, args.pages, args.topics, titles)
    write_contents(args.work, args.pages, args.topics, titles, chapter_titles)
    write_index(rng, args.work, args.pages, args.topics, titles)
    write_project(args.work, args.pages)

    run = subprocess.run(
        [args.chmcmd, "--no-html-scan", "book20k.hhp"],
        cwd=args.work,
        capture_output=True,
        text=True,
        errors="replace",
    )
    produced = os.path.join(args.work, "book20k.chm")
    # chmcmd reports a missing contents or index file as "Error: ..." and still exits with 0.
    reported = re.search(r"(^|\n)Error:[^\n]*", run.stdout + "\n" + run.stderr)
    if run.returncode != 0 or reported or not os.path.exists(produced):
        sys.exit("chmcmd failed (%d):\n%s\n%s" % (run.returncode, run.stdout, run.stderr))
    os.replace(produced, args.out)
    shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
