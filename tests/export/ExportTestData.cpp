#include "ExportTestData.h"

#include "CHMExporter.h"
#include "PageTextContent.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <poppler-document.h>
#include <poppler-page.h>

namespace exporttest {

namespace {

QString dataDir() {
    const QByteArray env = qgetenv("LUMENO_EXPORT_DATA");
    return env.isEmpty() ? QStringLiteral(LUMENO_EXPORT_DATA "/links") : QString::fromUtf8(env);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "u:text" is how qpdf's JSON writes a text string.
QString jsonText(const QJsonValue& value) {
    QString s = value.toString();
    if (s.startsWith(QLatin1String("u:")))
        s.remove(0, 2);
    return s;
}

// `qpdf --json` of a file.
QJsonObject qpdfJson(const QString& pdfPath) {
    // Not QProcess: it would leave ThreadSanitizer blind to this thread's locks (RunProgram.cpp).
    const testsupport::ToolRun qpdf =
        testsupport::runProgram(QStringLiteral("qpdf"), {QStringLiteral("--json"), pdfPath}, 60000);
    const QJsonObject json = QJsonDocument::fromJson(qpdf.out).object();
    EXPECT_FALSE(json.isEmpty()) << "qpdf --json gave nothing for " << pdfPath.toStdString();
    return json;
}

struct Objects {
    QJsonObject byId;
    QJsonValue resolve(const QJsonValue& v) const {
        if (v.isString() && v.toString().endsWith(QLatin1String(" R"))) {
            const QJsonValue o = byId.value(QStringLiteral("obj:") + v.toString());
            return o.toObject().contains(QLatin1String("value"))
                       ? o.toObject().value(QLatin1String("value"))
                       : o;
        }
        return v;
    }
};

Objects objectsOf(const QJsonObject& json) {
    const QJsonArray qpdf = json.value(QLatin1String("qpdf")).toArray();
    return Objects{qpdf.size() > 1 ? qpdf.at(1).toObject() : QJsonObject()};
}

QStringList pageIds(const QJsonObject& json) {
    QStringList ids;
    for (const QJsonValue& page : json.value(QLatin1String("pages")).toArray())
        ids << page.toObject().value(QLatin1String("object")).toString();
    return ids;
}

OutlineEntry outlineEntry(const QJsonObject& item, const QStringList& pages) {
    OutlineEntry entry;
    entry.title = jsonText(item.value(QLatin1String("title")));
    const QJsonArray dest = item.value(QLatin1String("dest")).toArray();
    if (dest.size() >= 4) {
        entry.targetPage = static_cast<int>(pages.indexOf(dest.at(0).toString()));
        entry.targetY = dest.at(3).toDouble();
    }
    for (const QJsonValue& kid : item.value(QLatin1String("kids")).toArray())
        entry.kids.push_back(outlineEntry(kid.toObject(), pages));
    return entry;
}

// The top of the first word `word` on the page, in PDF user space (origin bottom left);
// negative when the page does not show it.
double wordTop(const QString& pdfPath, int pageIndex, const QString& word) {
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_file(pdfPath.toStdString()));
    if (!doc || pageIndex < 0 || pageIndex >= doc->pages())
        return -1;
    std::unique_ptr<poppler::page> page(doc->create_page(pageIndex));
    const double height = page->page_rect(poppler::crop_box).height();
    for (const poppler::text_box& box : page->text_list()) {
        const poppler::byte_array utf8 = box.text().to_utf8();
        if (QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())) == word)
            return height - box.bbox().top();
    }
    return -1;
}

// The titles, indented two spaces a level.
QStringList titles(const std::vector<OutlineEntry>& entries, const QString& indent = {}) {
    QStringList lines;
    for (const OutlineEntry& entry : entries)
        lines << indent + entry.title << titles(entry.kids, indent + QStringLiteral("  "));
    return lines;
}

// Where a destination should lead: the page, and the word at whose height it should be.
struct Target {
    QString what;
    int page = -1;
    double y = 0;
    int expectedPage = -1;
    const char* word = nullptr;
};

void expectTargets(const QString& pdf, const std::vector<Target>& targets) {
    for (const Target& t : targets) {
        SCOPED_TRACE(t.what.toStdString());
        EXPECT_EQ(t.page, t.expectedPage);
        if (t.word) {
            ASSERT_GE(t.expectedPage, 0);
            EXPECT_NEAR(t.y, wordTop(pdf, t.expectedPage, QString::fromUtf8(t.word)), 6.0);
        }
    }
}

Target targetOf(const OutlineEntry& entry, int expectedPage, const char* word = nullptr) {
    return {entry.title, entry.targetPage, entry.targetY, expectedPage, word};
}

} // namespace

std::vector<StoredPrint> storedPrints() {
    std::vector<StoredPrint> prints;
    const QByteArray list = readFile(QDir(dataDir()).filePath(QStringLiteral("pages.txt")));
    EXPECT_FALSE(list.isEmpty()) << "no stored prints in " << dataDir().toStdString();
    int index = 0;
    for (const QByteArray& line : list.split('\n')) {
        if (line.isEmpty())
            continue;
        const QString stem =
            QDir(dataDir()).filePath(QStringLiteral("%1").arg(index++, 2, 10, QLatin1Char('0')));
        StoredPrint print;
        print.path = QString::fromUtf8(line);
        print.pdf = readFile(stem + QStringLiteral(".pdf"));
        print.walk =
            QJsonDocument::fromJson(readFile(stem + QStringLiteral(".walk.json"))).toVariant();
        prints.push_back(print);
    }
    return prints;
}

void replay(CHMExporter& exporter, const std::vector<StoredPrint>& prints) {
    for (const StoredPrint& print : prints) {
        ASSERT_EQ(exporter.currentPagePath(), print.path)
            << "the stored prints are stale: run tests/export/data/make-printed-pages.sh";
        if (print.pdf.isEmpty())
            exporter.skipPage();
        else
            exporter.addPrintedPage(print.pdf, PageTextContent::fromWalk(print.walk));
    }
    for (int i = 0; i < exporter.outputPageCount(); ++i)
        exporter.ResolveDestination(i);
}

std::vector<Link> links(const QString& pdfPath) {
    const QJsonObject json = qpdfJson(pdfPath);
    const Objects objects = objectsOf(json);
    const QStringList pages = pageIds(json);
    std::vector<Link> result;
    for (int p = 0; p < pages.size(); ++p) {
        const QJsonArray annots =
            objects.resolve(objects.resolve(pages[p]).toObject().value(QLatin1String("/Annots")))
                .toArray();
        for (const QJsonValue& ref : annots) {
            const QJsonObject annot = objects.resolve(ref).toObject();
            if (annot.value(QLatin1String("/Subtype")).toString() != QLatin1String("/Link"))
                continue;
            Link link;
            link.page = p;
            const QJsonArray rect = objects.resolve(annot.value(QLatin1String("/Rect"))).toArray();
            if (rect.size() == 4) {
                link.left = std::min(rect.at(0).toDouble(), rect.at(2).toDouble());
                link.right = std::max(rect.at(0).toDouble(), rect.at(2).toDouble());
                link.bottom = std::min(rect.at(1).toDouble(), rect.at(3).toDouble());
                link.top = std::max(rect.at(1).toDouble(), rect.at(3).toDouble());
            }
            const QJsonValue dest = objects.resolve(annot.value(QLatin1String("/Dest")));
            if (dest.isArray()) {
                link.targetPage = static_cast<int>(pages.indexOf(dest.toArray().at(0).toString()));
                link.targetY = dest.toArray().at(3).toDouble();
            } else if (!dest.isUndefined()) {
                link.hasNamedDest = true;
            }
            const QJsonObject action = objects.resolve(annot.value(QLatin1String("/A"))).toObject();
            link.uri = jsonText(action.value(QLatin1String("/URI")));
            if (action.value(QLatin1String("/S")).toString() == QLatin1String("/GoTo"))
                link.hasNamedDest = true;
            result.push_back(link);
        }
    }
    return result;
}

std::vector<OutlineEntry> outline(const QString& pdfPath) {
    const QJsonObject json = qpdfJson(pdfPath);
    const QStringList pages = pageIds(json);
    std::vector<OutlineEntry> entries;
    for (const QJsonValue& item : json.value(QLatin1String("outlines")).toArray())
        entries.push_back(outlineEntry(item.toObject(), pages));
    return entries;
}

std::vector<std::vector<WordBox>> pageWords(const QString& pdfPath) {
    std::vector<std::vector<WordBox>> pages;
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_file(pdfPath.toStdString()));
    if (!doc)
        return pages;
    for (int i = 0; i < doc->pages(); ++i) {
        std::unique_ptr<poppler::page> page(doc->create_page(i));
        const double height = page->page_rect(poppler::crop_box).height();
        std::vector<WordBox>& words = pages.emplace_back();
        for (const poppler::text_box& box : page->text_list()) {
            const poppler::byte_array utf8 = box.text().to_utf8();
            const poppler::rectf r = box.bbox();
            words.push_back({QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())),
                             r.left(), height - r.bottom(), r.right(), height - r.top()});
        }
    }
    return pages;
}

QStringList pageTexts(const QString& pdfPath) {
    QStringList texts;
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_file(pdfPath.toStdString()));
    if (!doc)
        return texts;
    for (int i = 0; i < doc->pages(); ++i) {
        std::unique_ptr<poppler::page> page(doc->create_page(i));
        const poppler::byte_array utf8 = page->text().to_utf8();
        texts << QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }
    return texts;
}

int pageShowing(const QStringList& texts, const char* text) {
    for (int i = 0; i < texts.size(); ++i) {
        if (texts[i].contains(QString::fromUtf8(text)))
            return i;
    }
    return -1;
}

QString freshFolder(const QString& name) {
    const QString folder = QDir(testsupport::scratchDir()).filePath(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}

void expectLinksBookOutline(const QString& pdf) {
    const QStringList texts = pageTexts(pdf);
    const auto at = [&](const char* text) { return pageShowing(texts, text); };
    const std::vector<OutlineEntry> entries = outline(pdf);
    ASSERT_EQ(
        titles(entries),
        (QStringList{"Guide", "  Chapter", "    Section two", "    Tail", "  Bottom", "Languages",
                     QString::fromUtf8("  Russian Конец"), "  Japanese", "Empty"}));
    const OutlineEntry& chapter = entries[0].kids[0];
    // Anchors lead to the page that prints them, at the height of their first word; offsets
    // count UTF-8 bytes on both sides (the anchor at the end of a long Cyrillic page). A heading
    // without a page, and a page that printed nothing, lead nowhere (and never to page 1).
    expectTargets(pdf, {targetOf(entries[0], 0), targetOf(chapter, at("Section one")),
                        targetOf(chapter.kids[0], at("Section two"), "Section"),
                        targetOf(chapter.kids[1], at("Tail anchor")),
                        targetOf(entries[0].kids[1], at("Bottom marker"), "Bottom"),
                        targetOf(entries[1].kids[0], at("Конец страницы"), "Конец"),
                        targetOf(entries[1], -1), targetOf(entries[2], -1)});
}

void expectLinksBookLinks(const QString& pdf) {
    const QStringList texts = pageTexts(pdf);
    const auto at = [&](const char* text) { return pageShowing(texts, text); };
    int web = 0, resolved = 0;
    std::vector<Target> targets;
    for (const Link& link : links(pdf)) {
        EXPECT_FALSE(link.hasNamedDest) << "a link on page " << link.page << " names a destination";
        EXPECT_FALSE(link.uri.startsWith(QLatin1String("itss:"))) << link.uri.toStdString();
        if (link.uri.startsWith(QLatin1String("https:"))) {
            ++web; // links to the web stay as they were
            continue;
        }
        EXPECT_GE(link.targetPage, 0);
        ++resolved;
        if (link.page == 0 || link.page == at("終わりの節"))
            targets.push_back(
                {QStringLiteral("link on page %1").arg(link.page), link.targetPage, link.targetY});
    }
    EXPECT_EQ(web, 1);
    // Besides: the chapter's to the guide and its own top, the hidden page's to the guide's bottom.
    EXPECT_EQ(resolved, 8);
    // The home page's first line: section two (another page's anchor), the chapter, its own
    // #bottom (a named destination of the print), the hidden page (reached only by links); the
    // missing page and the picture file are gone. Then the Japanese page's link to the end of
    // the Russian page.
    const std::vector<std::pair<int, const char*>> expected = {{at("Section two"), nullptr},
                                                               {at("Section one"), nullptr},
                                                               {at("Bottom marker"), "Bottom"},
                                                               {at("Hidden page"), nullptr},
                                                               {at("Конец страницы"), nullptr}};
    ASSERT_EQ(targets.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        targets[i].expectedPage = expected[i].first;
        targets[i].word = expected[i].second;
    }
    expectTargets(pdf, targets);
}

} // namespace exporttest
