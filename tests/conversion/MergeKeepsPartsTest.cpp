// What merging keeps of its PDF inputs besides their pages: named destinations, the links that
// lead to them or straight to pages, form fields, attached files, page labels and the Info, on
// PDFs made here and on a real manual, read back with Poppler and qpdf.
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

// A three-page PDF whose every part names `tag`: pages saying "<tag> page N"; named destinations
// "chapter" (page 3) and "intro" (page 1) in the /Names tree and "appendix" (page 2) in /Dests;
// on page 1 links to (chapter), to /appendix, to page 3 explicitly and through a GoTo action to
// (chapter), and a text field "Name" holding "<tag> value"; on page 2 an explicit link back to
// page 1 and a file attachment annotation; an attached "notes.txt" holding "<tag> notes"; page
// labels i, ii, A-1; Title "<tag> title"; an outline entry "Chapter" leading to (chapter).
// Written as text and given its cross-reference table by qpdf.
void writeRichPDF(const fs::path& path, const std::string& tag) {
    const auto stream = [](const std::string& dict, const std::string& data) {
        return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
               "\nendstream";
    };
    const auto page = [](int contents, const std::string& annotations) {
        return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
               std::to_string(contents) + " 0 R /Resources << /Font << /F1 5 0 R >> >> /Annots [" +
               annotations + "] >>";
    };
    const auto link = [](int y, const std::string& target) {
        return "<< /Type /Annot /Subtype /Link /Border [0 0 0] /Rect [72 " + std::to_string(y) +
               " 300 " + std::to_string(y + 20) + "] " + target + " >>";
    };
    const std::map<int, std::string> objects = {
        {1, "<< /Type /Catalog /Pages 2 0 R /Outlines 40 0 R /Names << /Dests << /Names "
            "[(chapter) [12 0 R /XYZ 0 700 null] (intro) [10 0 R /Fit]] >> /EmbeddedFiles "
            "<< /Names [(notes.txt) 20 0 R] >> >> /Dests << /appendix [11 0 R /FitH 500] >> "
            "/AcroForm << /Fields [30 0 R] /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 5 0 R >> "
            ">> >> /PageLabels << /Nums [0 << /S /r >> 2 << /S /D /P (A-) >>] >> >>"},
        {2, "<< /Type /Pages /Count 3 /Kids [10 0 R 11 0 R 12 0 R] >>"},
        {5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
        {10, page(13, "31 0 R 32 0 R 33 0 R 34 0 R 30 0 R")},
        {11, page(14, "35 0 R 36 0 R")},
        {12, page(15, "")},
        {13, stream("", "BT /F1 24 Tf 72 700 Td (" + tag + " page 1) Tj ET")},
        {14, stream("", "BT /F1 24 Tf 72 700 Td (" + tag + " page 2) Tj ET")},
        {15, stream("", "BT /F1 24 Tf 72 700 Td (" + tag + " page 3) Tj ET")},
        {20, "<< /Type /Filespec /F (notes.txt) /UF (notes.txt) /EF << /F 21 0 R >> >>"},
        {21, stream("/Type /EmbeddedFile", tag + " notes")},
        {22, "<< /Type /Filespec /F (figure.csv) /UF (figure.csv) /EF << /F 23 0 R >> >>"},
        {23, stream("/Type /EmbeddedFile", tag + ",1,2")},
        {30, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (Name) /V (" + tag +
                 " value) /DA (/Helv 12 Tf 0 g) /F 4 /P 10 0 R /Rect [72 400 300 424] >>"},
        {31, link(600, "/Dest (chapter)")},
        {32, link(570, "/Dest /appendix")},
        {33, link(540, "/Dest [12 0 R /Fit]")},
        {34, link(510, "/A << /S /GoTo /D (chapter) >>")},
        {35, link(600, "/Dest [10 0 R /XYZ 0 792 null]")},
        {36, "<< /Type /Annot /Subtype /FileAttachment /Rect [72 300 92 320] /FS 22 0 R >>"},
        {40, "<< /Type /Outlines /Count 1 /First 41 0 R /Last 41 0 R >>"},
        {41, "<< /Title (Chapter) /Parent 40 0 R /Dest (chapter) >>"}};
    std::ostringstream pdf;
    pdf << "%PDF-1.7\n";
    for (const auto& [number, object] : objects)
        pdf << number << " 0 obj\n" << object << "\nendobj\n";
    pdf << "trailer\n<< /Root 1 0 R /Size 50 /Info << /Title (" << tag << " title) /Author (" << tag
        << " author) >> >>\n%%EOF\n";
    const fs::path text = path.string() + ".txt";
    std::ofstream(text, std::ios::binary) << pdf.str();
    capture("qpdf " + shellQuote(text) + " " + shellQuote(path) + " 2>/dev/null");
}

// The named destinations Poppler lists, with the 1-based page each leads to.
std::map<std::string, int> destinations(const fs::path& pdf) {
    std::map<std::string, int> found;
    std::istringstream lines(capture("pdfinfo -dests " + shellQuote(pdf) + " 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t open = line.find('"');
        int page = 0;
        if (open != std::string::npos && std::sscanf(line.c_str(), "%d", &page) == 1)
            found[line.substr(open + 1, line.rfind('"') - open - 1)] = page;
    }
    return found;
}

struct Link {
    int onPage = 0;
    int toPage = 0; // 0: it leads nowhere Poppler can find
    std::string named;
};

// Every GoTo link as Poppler follows it. Poppler's link annotation class is out of reach of the
// sanitizer's type checks, so its steps are taken here on the annotation dictionaries.
std::vector<Link> links(const fs::path& path) {
    lumeno::ensurePopplerGlobals();
    std::vector<Link> found;
    PDFDoc doc(std::make_unique<GooString>(path.c_str()));
    Catalog* catalog = doc.isOk() ? doc.getCatalog() : nullptr;
    for (int n = 1; catalog && n <= doc.getNumPages(); ++n) {
        const Object annotations = doc.getPage(n)->getAnnotsObject();
        for (int i = 0; annotations.isArray() && i < annotations.arrayGetLength(); ++i) {
            const Object annotation = annotations.arrayGet(i);
            if (!annotation.isDict() || !annotation.dictLookup("Subtype").isName("Link"))
                continue;
            const Object destination = annotation.dictLookup("Dest");
            const Object action = annotation.dictLookup("A");
            const std::unique_ptr<LinkAction> parsed = destination.isNull()
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

// Form fields by their full names, with their values (qpdf marks a text string "u:").
std::map<std::string, std::string> fields(const fs::path& pdf) {
    std::map<std::string, std::string> found;
    for (const auto& value : qpdfJSON(pdf)["acroform"].toObject()["fields"].toArray()) {
        const QJsonObject field = value.toObject();
        found[field["fullname"].toString().toStdString()] =
            field["value"].toString().toStdString().substr(2);
    }
    return found;
}

// The attached files pdfdetach lists (the /EmbeddedFiles tree and file attachment annotations),
// with their contents.
std::multimap<std::string, std::string> attachments(const fs::path& pdf) {
    std::multimap<std::string, std::string> found;
    std::istringstream lines(capture("pdfdetach -list " + shellQuote(pdf) + " 2>/dev/null"));
    std::string line;
    std::getline(lines, line);
    for (int n = 1; std::getline(lines, line); ++n) {
        const fs::path saved = pdf.string() + ".detached";
        capture("pdfdetach -save " + std::to_string(n) + " -o " + shellQuote(saved) + " " +
                shellQuote(pdf) + " 2>/dev/null");
        found.emplace(line.substr(line.find(": ") + 2), imagetest::readText(saved));
    }
    return found;
}

// The page labels and the Title as poppler-cpp reads them.
std::vector<std::string> labelsAndTitle(const fs::path& pdf) {
    std::vector<std::string> found;
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf.string()));
    for (int i = 0; doc && i < doc->pages(); ++i) {
        const poppler::byte_array label =
            std::unique_ptr<poppler::page>(doc->create_page(i))->label().to_utf8();
        found.emplace_back(label.begin(), label.end());
    }
    const poppler::byte_array title =
        doc ? doc->info_key("Title").to_utf8() : poppler::byte_array();
    found.emplace_back(title.begin(), title.end());
    return found;
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

    const std::map<std::string, int> names = {{"appendix", 2}, {"chapter", 3}, {"intro", 1}};
    EXPECT_EQ(destinations(dir / "rich.pdf"), names) << "the input as made";
    EXPECT_EQ(destinations(out), names);
    // Poppler looks a string up in /Names only where the catalog has no /Dests, so two of the
    // input's links lead nowhere for it: the rewrite leaves them as they were.
    const std::vector<Link> original = links(dir / "rich.pdf");
    ASSERT_EQ(original.size(), 5u);
    EXPECT_EQ(working(original), 3u);
    EXPECT_EQ(targets(links(out)), targets(original));
    EXPECT_EQ(fields(out), (std::map<std::string, std::string>{{"Name", "first value"}}));
    EXPECT_EQ(attachments(out), (std::multimap<std::string, std::string>{
                                    {"figure.csv", "first,1,2"}, {"notes.txt", "first notes"}}));
    EXPECT_EQ(labelsAndTitle(out), (std::vector<std::string>{"i", "ii", "A-1", "first title"}));
    const QJsonArray outline = qpdfJSON(out)["outlines"].toArray();
    ASSERT_EQ(outline.size(), 1);
    EXPECT_EQ(outline[0].toObject()["destpageposfrom1"].toInt(), 3);
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

    // The second input's names are renamed and lead to its own pages (5 to 7).
    EXPECT_EQ(destinations(out), (std::map<std::string, int>{{"appendix", 2},
                                                             {"appendix 1", 6},
                                                             {"chapter", 3},
                                                             {"chapter 1", 7},
                                                             {"intro", 1},
                                                             {"intro 1", 5}}));
    // Every link leads where it led, the second input's through the renamed names; a name
    // object becomes the string the merged name tree holds.
    const std::vector<Link> kept = links(out);
    EXPECT_EQ(targets(kept),
              (std::vector<std::pair<int, int>>{
                  {1, 3}, {1, 2}, {1, 3}, {1, 3}, {2, 1}, {5, 7}, {5, 6}, {5, 7}, {5, 7}, {6, 5}}));
    ASSERT_EQ(kept.size(), 10u);
    EXPECT_EQ(kept[5].named, "chapter 1");
    EXPECT_EQ(kept[6].named, "appendix 1");

    // Both fields (the second renamed as qpdf renames a clash) and both attached notes (the
    // second under a free name), each with its own value.
    const std::map<std::string, std::string> form = fields(out);
    ASSERT_EQ(form.size(), 2u);
    EXPECT_EQ(form.at("Name"), "first value");
    EXPECT_EQ(std::next(form.begin())->second, "second value");
    EXPECT_EQ(attachments(out),
              (std::multimap<std::string, std::string>{{"figure.csv", "first,1,2"},
                                                       {"figure.csv", "second,1,2"},
                                                       {"notes 1.txt", "second notes"},
                                                       {"notes.txt", "first notes"}}));
    // Labels move with their pages; the picture's page is numbered by its place.
    EXPECT_EQ(labelsAndTitle(out),
              (std::vector<std::string>{"i", "ii", "A-1", "4", "i", "ii", "A-1", "first title"}));
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
    const std::vector<std::string> labels = labelsAndTitle(manual);

    fs::create_directories(dir / "out");
    const MergeFilesOptions separate = mergeOf({manual}, dir / "out", false);
    ASSERT_TRUE(MergeFilesToPDF(&separate));
    EXPECT_EQ(destinations(dir / "out" / "libtasn1.pdf"), names);
    EXPECT_EQ(targets(links(dir / "out" / "libtasn1.pdf")), targets(before));
    EXPECT_EQ(labelsAndTitle(dir / "out" / "libtasn1.pdf"), labels);

    const MergeFilesOptions twice = mergeOf({manual, manual}, dir / "twice.pdf", true);
    ASSERT_TRUE(MergeFilesToPDF(&twice));
    EXPECT_EQ(destinations(twice.outputURL).size(), 2 * names.size());
    const std::vector<Link> after = links(twice.outputURL);
    ASSERT_EQ(after.size(), 2 * before.size());
    const int pages = int(labels.size()) - 1;
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].toPage, before[i].toPage) << i;
        EXPECT_EQ(after[before.size() + i].toPage, before[i].toPage + pages) << i;
    }
}
