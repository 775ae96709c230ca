// What merging keeps of its PDF inputs besides their pages: named destinations, the links that
// lead to them or straight to pages, form fields, attached files, page labels and the Info, on
// PDFs made here with qpdf and on a real manual, read back with Poppler and qpdf.
#include "ConversionEntries.h"
#include "PopplerGlobals.h"
#include "TestSupport.h"
#include "ToPDFTestSupport.h"

#include <Catalog.h>
#include <Link.h>
#include <PDFDoc.h>
#include <Page.h>
#include <goo/GooString.h>
#include <poppler-document.h>
#include <poppler-page.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFEFStreamObjectHelper.hh>
#include <qpdf/QPDFEmbeddedFileDocumentHelper.hh>
#include <qpdf/QPDFFileSpecObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QJsonArray>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

QPDFObjectHandle name(const std::string& n) {
    return QPDFObjectHandle::newName(n);
}
QPDFObjectHandle text(const std::string& s) {
    return QPDFObjectHandle::newString(s);
}
QPDFObjectHandle integer(long long n) {
    return QPDFObjectHandle::newInteger(n);
}
QPDFObjectHandle array(std::vector<QPDFObjectHandle> items) {
    return QPDFObjectHandle::newArray(items);
}
QPDFObjectHandle rect(int x0, int y0, int x1, int y1) {
    return array({integer(x0), integer(y0), integer(x1), integer(y1)});
}
QPDFObjectHandle dictionary(const std::map<std::string, QPDFObjectHandle>& items) {
    return QPDFObjectHandle::newDictionary(items);
}

// A three-page PDF whose every part names `tag`: pages saying "<tag> page N"; named destinations
// "chapter" (page 3) and "intro" (page 1) in the /Names tree and "appendix" (page 2) in /Dests;
// on page 1 links to (chapter) by string, to /appendix by name, to page 3 explicitly and through
// a GoTo action to (chapter), with a text field "Name" holding "<tag> value"; on page 2 an
// explicit link back to page 1 and a file attachment annotation; an attached "notes.txt" holding
// "<tag> notes"; page labels i, ii, A-1; Title "<tag> title", Author "<tag> author"; an outline
// entry "Chapter" leading to (chapter).
void writeRichPDF(const fs::path& path, const std::string& tag) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font = pdf.makeIndirectObject(dictionary({{"/Type", name("/Font")},
                                                               {"/Subtype", name("/Type1")},
                                                               {"/BaseFont", name("/Helvetica")}}));
    QPDFPageDocumentHelper pages(pdf);
    for (int n = 1; n <= 3; ++n) {
        const std::string content =
            "BT /F1 24 Tf 72 700 Td (" + tag + " page " + std::to_string(n) + ") Tj ET";
        QPDFObjectHandle page = pdf.makeIndirectObject(
            dictionary({{"/Type", name("/Page")},
                        {"/MediaBox", rect(0, 0, 612, 792)},
                        {"/Contents", QPDFObjectHandle::newStream(&pdf, content)},
                        {"/Resources", dictionary({{"/Font", dictionary({{"/F1", font}})}})}}));
        pages.addPage(QPDFPageObjectHelper(page), false);
    }
    std::vector<QPDFObjectHandle> all = pdf.getAllPages();
    const auto link = [&](int y, const std::string& key, QPDFObjectHandle value) {
        return pdf.makeIndirectObject(
            dictionary({{"/Type", name("/Annot")},
                        {"/Subtype", name("/Link")},
                        {"/Rect", rect(72, y, 300, y + 20)},
                        {"/Border", array({integer(0), integer(0), integer(0)})},
                        {key, value}}));
    };
    QPDFObjectHandle field =
        pdf.makeIndirectObject(dictionary({{"/Type", name("/Annot")},
                                           {"/Subtype", name("/Widget")},
                                           {"/FT", name("/Tx")},
                                           {"/T", text("Name")},
                                           {"/V", text(tag + " value")},
                                           {"/DA", text("/Helv 12 Tf 0 g")},
                                           {"/F", integer(4)},
                                           {"/P", all[0]},
                                           {"/Rect", rect(72, 400, 300, 424)}}));
    all[0].replaceKey(
        "/Annots",
        array({link(600, "/Dest", text("chapter")), link(570, "/Dest", name("/appendix")),
               link(540, "/Dest", array({all[2], name("/Fit")})),
               link(510, "/A", dictionary({{"/S", name("/GoTo")}, {"/D", text("chapter")}})),
               field}));
    QPDFObjectHandle figure =
        QPDFFileSpecObjectHelper::createFileSpec(
            pdf, "figure.csv", QPDFEFStreamObjectHelper::createEFStream(pdf, tag + ",1,2\n"))
            .getObjectHandle();
    all[1].replaceKey(
        "/Annots", array({link(600, "/Dest",
                               array({all[0], name("/XYZ"), integer(0), integer(792),
                                      QPDFObjectHandle::newNull()})),
                          pdf.makeIndirectObject(dictionary({{"/Type", name("/Annot")},
                                                             {"/Subtype", name("/FileAttachment")},
                                                             {"/Rect", rect(72, 300, 92, 320)},
                                                             {"/Contents", text("figure")},
                                                             {"/FS", figure}}))}));
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle helv = pdf.makeIndirectObject(dictionary({{"/Type", name("/Font")},
                                                               {"/Subtype", name("/Type1")},
                                                               {"/BaseFont", name("/Helvetica")}}));
    root.replaceKey("/AcroForm",
                    dictionary({{"/Fields", array({field})},
                                {"/DA", text("/Helv 0 Tf 0 g")},
                                {"/DR", dictionary({{"/Font", dictionary({{"/Helv", helv}})}})}}));
    root.replaceKey(
        "/Names",
        dictionary(
            {{"/Dests",
              dictionary({{"/Names", array({text("chapter"),
                                            array({all[2], name("/XYZ"), integer(0), integer(700),
                                                   QPDFObjectHandle::newNull()}),
                                            text("intro"), array({all[0], name("/Fit")})})}})}}));
    root.replaceKey("/Dests",
                    dictionary({{"/appendix", array({all[1], name("/FitH"), integer(500)})}}));
    QPDFEmbeddedFileDocumentHelper(pdf).replaceEmbeddedFile(
        "notes.txt",
        QPDFFileSpecObjectHelper::createFileSpec(
            pdf, "notes.txt", QPDFEFStreamObjectHelper::createEFStream(pdf, tag + " notes\n")));
    root.replaceKey(
        "/PageLabels",
        dictionary({{"/Nums", array({integer(0), dictionary({{"/S", name("/r")}}), integer(2),
                                     dictionary({{"/S", name("/D")}, {"/P", text("A-")}})})}}));
    QPDFObjectHandle outlines =
        pdf.makeIndirectObject(dictionary({{"/Type", name("/Outlines")}, {"/Count", integer(1)}}));
    QPDFObjectHandle item = pdf.makeIndirectObject(dictionary(
        {{"/Title", text("Chapter")}, {"/Parent", outlines}, {"/Dest", text("chapter")}}));
    outlines.replaceKey("/First", item);
    outlines.replaceKey("/Last", item);
    root.replaceKey("/Outlines", outlines);
    pdf.getTrailer().replaceKey(
        "/Info", pdf.makeIndirectObject(dictionary(
                     {{"/Title", text(tag + " title")}, {"/Author", text(tag + " author")}})));
    QPDFWriter writer(pdf, path.c_str());
    writer.setStaticID(true);
    writer.write();
}

// The named destinations Poppler lists, with the 1-based page each leads to (0: nowhere).
std::map<std::string, int> destinations(const fs::path& pdf) {
    std::map<std::string, int> found;
    std::istringstream lines(capture("pdfinfo -dests " + shellQuote(pdf) + " 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t open = line.find('"');
        const std::size_t close = line.rfind('"');
        int page = 0;
        if (open != std::string::npos && close > open && std::sscanf(line.c_str(), "%d", &page))
            found[line.substr(open + 1, close - open - 1)] = page;
    }
    return found;
}

struct Link {
    int onPage = 0;
    int toPage = 0; // 0: the link leads nowhere Poppler can find
    std::string named;
};

// Every GoTo link of the document as Poppler follows it, explicit or named. Poppler's own link
// annotation class is out of reach of the sanitizer's type checks, so its steps are taken here
// on the annotation dictionaries, with Poppler's parsing of destinations and actions.
std::vector<Link> links(const fs::path& path) {
    lumeno::ensurePopplerGlobals();
    std::vector<Link> found;
    PDFDoc doc(std::make_unique<GooString>(path.c_str()));
    if (!doc.isOk())
        return found;
    Catalog* catalog = doc.getCatalog();
    for (int n = 1; n <= doc.getNumPages(); ++n) {
        const Object annotations = doc.getPage(n)->getAnnotsObject();
        if (!annotations.isArray())
            continue;
        for (int i = 0; i < annotations.arrayGetLength(); ++i) {
            const Object annotation = annotations.arrayGet(i);
            if (!annotation.isDict() || !annotation.dictLookup("Subtype").isName("Link"))
                continue;
            const Object destination = annotation.dictLookup("Dest");
            const Object action = annotation.dictLookup("A");
            std::unique_ptr<LinkAction> parsed = destination.isNull()
                                                     ? LinkAction::parseAction(&action)
                                                     : LinkAction::parseDest(&destination);
            if (!parsed || parsed->getKind() != actionGoTo)
                continue;
            const auto* goTo = static_cast<const LinkGoTo*>(parsed.get());
            Link link{n, 0, {}};
            std::unique_ptr<LinkDest> named;
            const LinkDest* dest = goTo->getDest();
            if (!dest && goTo->getNamedDest()) {
                link.named = goTo->getNamedDest()->toStr();
                named = catalog->findDest(goTo->getNamedDest());
                dest = named.get();
            }
            if (dest && dest->isOk())
                link.toPage =
                    dest->isPageRef() ? catalog->findPage(dest->getPageRef()) : dest->getPageNum();
            found.push_back(link);
        }
    }
    return found;
}

std::size_t working(const std::vector<Link>& all) {
    return std::size_t(
        std::count_if(all.begin(), all.end(), [](const Link& l) { return l.toPage > 0; }));
}

// Each link's page and the page it leads to.
std::vector<std::pair<int, int>> targets(const std::vector<Link>& all) {
    std::vector<std::pair<int, int>> pairs;
    for (const Link& l : all)
        pairs.emplace_back(l.onPage, l.toPage);
    return pairs;
}

// Form fields by their full names, with their values.
std::map<std::string, std::string> fields(const fs::path& pdf) {
    std::map<std::string, std::string> found;
    for (const auto& value : qpdfJSON(pdf)["acroform"].toObject()["fields"].toArray()) {
        const QJsonObject field = value.toObject();
        // qpdf's JSON marks a text string as "u:" and its UTF-8.
        std::string shown = field["value"].toString().toStdString();
        if (shown.rfind("u:", 0) == 0)
            shown.erase(0, 2);
        found[field["fullname"].toString().toStdString()] = shown;
    }
    return found;
}

// The attached files pdfdetach lists (the /EmbeddedFiles tree and file attachment annotations).
std::vector<std::string> attachments(const fs::path& pdf) {
    std::vector<std::string> names;
    std::istringstream lines(capture("pdfdetach -list " + shellQuote(pdf) + " 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos && colon > 0 && std::isdigit((unsigned char)line[0]))
            names.push_back(line.substr(colon + 2));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> labels(const fs::path& pdf) {
    std::vector<std::string> found;
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf.string()));
    if (!doc)
        return found;
    for (int i = 0; i < doc->pages(); ++i) {
        std::unique_ptr<poppler::page> page(doc->create_page(i));
        const poppler::byte_array utf8 = page->label().to_utf8();
        found.emplace_back(utf8.begin(), utf8.end());
    }
    return found;
}

std::string info(const fs::path& pdf, const std::string& key) {
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf.string()));
    if (!doc)
        return {};
    const poppler::byte_array utf8 = doc->info_key(key).to_utf8();
    return std::string(utf8.begin(), utf8.end());
}

std::string detached(const fs::path& pdf, const fs::path& dir, int number) {
    const fs::path out = dir / ("detached-" + std::to_string(number));
    capture("pdfdetach -save " + std::to_string(number) + " -o " + shellQuote(out) + " " +
            shellQuote(pdf) + " 2>/dev/null");
    return imagetest::readText(out);
}

MergeFilesOptions mergeOf(const std::vector<fs::path>& inputs, const fs::path& out, bool merge) {
    MergeFilesOptions o;
    o.merge = merge;
    o.outputURL = out;
    for (const fs::path& input : inputs)
        o.jobList.push_back(
            {input.extension() == ".pdf" ? kMergeFilePDF : kMergeFileImage, input, {}, {}});
    return o;
}

} // namespace

TEST(MergeKeepsParts, RewritingOneFileKeepsEverythingOfIt) {
    const fs::path dir = imagetest::freshDir("keep-separate");
    writeRichPDF(dir / "rich.pdf", "first");
    fs::create_directories(dir / "out");
    const MergeFilesOptions o = mergeOf({dir / "rich.pdf"}, dir / "out", false);
    ASSERT_TRUE(MergeFilesToPDF(&o));
    const fs::path out = dir / "out" / "rich.pdf";
    ASSERT_TRUE(qpdfCheckPasses(out));

    const std::map<std::string, int> expectedDestinations = {
        {"appendix", 2}, {"chapter", 3}, {"intro", 1}};
    EXPECT_EQ(destinations(dir / "rich.pdf"), expectedDestinations) << "the input as made";
    EXPECT_EQ(destinations(out), expectedDestinations);
    // Poppler looks a string up in /Names only where the catalog has no /Dests, so two of the
    // input's links lead nowhere for it: the rewrite leaves them as they were.
    const std::vector<Link> original = links(dir / "rich.pdf");
    ASSERT_EQ(original.size(), 5u);
    EXPECT_EQ(working(original), 3u);
    const std::vector<Link> kept = links(out);
    EXPECT_EQ(targets(kept), targets(original));
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept[2].toPage, 3) << "the explicit link to the last page";
    EXPECT_EQ(kept[4].toPage, 1) << "the explicit link back";
    EXPECT_EQ(fields(out), (std::map<std::string, std::string>{{"Name", "first value"}}));
    EXPECT_EQ(attachments(out), (std::vector<std::string>{"figure.csv", "notes.txt"}));
    EXPECT_EQ(labels(out), (std::vector<std::string>{"i", "ii", "A-1"}));
    EXPECT_EQ(info(out, "Title"), "first title");
    EXPECT_EQ(info(out, "Author"), "first author");
    const QJsonArray outline = qpdfJSON(out)["outlines"].toArray();
    ASSERT_EQ(outline.size(), 1);
    EXPECT_EQ(outline[0].toObject()["title"].toString(), "Chapter");
    EXPECT_EQ(outline[0].toObject()["destpageposfrom1"].toInt(), 3);

    // Encrypting is what the options change; everything else stays.
    PDFWriteOptions write;
    write.userPassword = "open";
    MergeFilesOptions sealed = o;
    sealed.writeOptions = &write;
    ASSERT_TRUE(MergeFilesToPDF(&sealed));
    const fs::path second = dir / "out" / "rich 1.pdf";
    EXPECT_TRUE(qpdfCheckPasses(second, "open"));
    EXPECT_FALSE(qpdfCheckPasses(second));
    EXPECT_EQ(qpdfJSON(second, "open")["acroform"].toObject()["fields"].toArray().size(), 1);
    EXPECT_EQ(qpdfJSON(second, "open")["attachments"].toObject().size(), 1);
}

TEST(MergeKeepsParts, MergedInputsKeepTheirNamesLinksFieldsAttachmentsLabelsAndTheFirstInfo) {
    const fs::path dir = imagetest::freshDir("keep-merged");
    writeRichPDF(dir / "first.pdf", "first");
    writeRichPDF(dir / "second.pdf", "second");
    writeHalvesImage(dir / "between.png", "PNG", 60, 40, 72);
    const MergeFilesOptions o = mergeOf(
        {dir / "first.pdf", dir / "between.png", dir / "second.pdf"}, dir / "merged.pdf", true);
    ASSERT_TRUE(MergeFilesToPDF(&o));
    const fs::path out = o.outputURL;
    ASSERT_TRUE(qpdfCheckPasses(out));
    ASSERT_EQ(pageSizes(out).size(), 7u);

    // The second input's names are renamed, and lead to its own pages (5 to 7).
    const std::map<std::string, int> expectedDestinations = {{"appendix", 2}, {"appendix 1", 6},
                                                             {"chapter", 3},  {"chapter 1", 7},
                                                             {"intro", 1},    {"intro 1", 5}};
    EXPECT_EQ(destinations(out), expectedDestinations);

    // Every link still leads where it led, the second input's through its renamed names.
    const std::vector<Link> kept = links(out);
    ASSERT_EQ(kept.size(), 10u);
    EXPECT_EQ(working(kept), 10u);
    EXPECT_EQ(targets(kept),
              (std::vector<std::pair<int, int>>{
                  {1, 3}, {1, 2}, {1, 3}, {1, 3}, {2, 1}, {5, 7}, {5, 6}, {5, 7}, {5, 7}, {6, 5}}));
    EXPECT_EQ(kept[5].named, "chapter 1");
    EXPECT_EQ(kept[6].named, "appendix 1") << "a name object becomes the tree's string";

    // Both fields, the second renamed as qpdf renames a clash, each with its value.
    const std::map<std::string, std::string> form = fields(out);
    ASSERT_EQ(form.size(), 2u);
    EXPECT_EQ(form.at("Name"), "first value");
    std::vector<std::string> values;
    for (const auto& [field, value] : form)
        values.push_back(value);
    EXPECT_NE(std::find(values.begin(), values.end(), "second value"), values.end());

    // Both attached notes, the second under a free name, each with its own contents.
    const std::vector<std::string> files = attachments(out);
    EXPECT_EQ(files,
              (std::vector<std::string>{"figure.csv", "figure.csv", "notes 1.txt", "notes.txt"}));
    const QJsonObject attached = qpdfJSON(out)["attachments"].toObject();
    ASSERT_TRUE(attached.contains("notes.txt"));
    ASSERT_TRUE(attached.contains("notes 1.txt"));
    std::set<std::string> contents;
    for (int i = 1; i <= int(files.size()); ++i)
        contents.insert(detached(out, dir, i));
    EXPECT_TRUE(contents.count("first notes\n")) << "the first input's notes";
    EXPECT_TRUE(contents.count("second notes\n")) << "the second input's notes";

    // Labels move with their pages; the picture's page is numbered by its place.
    EXPECT_EQ(labels(out), (std::vector<std::string>{"i", "ii", "A-1", "4", "i", "ii", "A-1"}));
    EXPECT_EQ(info(out, "Title"), "first title");
    EXPECT_EQ(info(out, "Author"), "first author");

    // The outline's entries per input, with each input's own beneath.
    const QJsonArray outline = qpdfJSON(out)["outlines"].toArray();
    ASSERT_EQ(outline.size(), 3);
    EXPECT_EQ(outline[2].toObject()["kids"].toArray()[0].toObject()["destpageposfrom1"].toInt(), 7);
}

TEST(MergeKeepsParts, ADebianManualKeepsItsDestinationsAndLinksRewrittenOrMergedTwice) {
    const fs::path manual = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";
    REQUIRE_TOOL(fs::exists(manual), "libtasn1-doc");
    const fs::path dir = imagetest::freshDir("keep-manual");
    const std::map<std::string, int> names = destinations(manual);
    const std::vector<Link> before = links(manual);
    ASSERT_GT(names.size(), 50u);
    ASSERT_GT(working(before), 50u);
    const std::vector<std::string> pageLabels = labels(manual);

    fs::create_directories(dir / "out");
    const MergeFilesOptions separate = mergeOf({manual}, dir / "out", false);
    ASSERT_TRUE(MergeFilesToPDF(&separate));
    const fs::path rewritten = dir / "out" / "libtasn1.pdf";
    EXPECT_EQ(destinations(rewritten), names);
    EXPECT_EQ(working(links(rewritten)), working(before));
    EXPECT_EQ(labels(rewritten), pageLabels);

    const MergeFilesOptions twice = mergeOf({manual, manual}, dir / "twice.pdf", true);
    ASSERT_TRUE(MergeFilesToPDF(&twice));
    const std::map<std::string, int> merged = destinations(twice.outputURL);
    EXPECT_EQ(merged.size(), 2 * names.size());
    const int pages = int(pageLabels.size());
    for (const auto& [name, page] : names) {
        ASSERT_TRUE(merged.count(name)) << name;
        EXPECT_EQ(merged.at(name), page) << name;
    }
    const std::vector<Link> after = links(twice.outputURL);
    ASSERT_EQ(after.size(), 2 * before.size());
    EXPECT_EQ(working(after), 2 * working(before));
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].toPage, before[i].toPage) << i;
        const Link& copy = after[before.size() + i];
        EXPECT_EQ(copy.toPage, before[i].toPage > 0 ? before[i].toPage + pages : 0) << i;
    }
    std::vector<std::string> doubled = pageLabels;
    doubled.insert(doubled.end(), pageLabels.begin(), pageLabels.end());
    EXPECT_EQ(labels(twice.outputURL), doubled);
}
