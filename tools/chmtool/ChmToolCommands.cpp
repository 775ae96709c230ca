#include "ChmToolCommands.h"

#include "CHMDocument.h"
#include "CHMSearchIndex.h"
#include "CHMSearchResult.h"
#include "CHMTableOfContent.h"
#include "ITSSProtocol.h"
#include "LinkItem.h"
#include "ScoredLinkItem.h"

#include <QSaveFile>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

void out(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void err(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

// A list longer than the reader takes is cut; say so, and by how much.
void reportCut(const QString& what, const CHMTableOfContent* tree) {
    if (!tree || tree->truncatedItemCount() == 0)
        return;
    err(QStringLiteral("%1: the list was cut at %2 entries; %3 more were left out")
            .arg(what)
            .arg(tree->readItemCount())
            .arg(tree->truncatedItemCount()));
}

int usage() {
    err(chmToolUsage());
    return 2;
}

// Only the commands that print a tree or search one have the sitemaps parsed: on a large book
// the parsing costs far more than reading one object.
std::unique_ptr<CHMDocument> open(const QString& file, CHMDocument::SitemapLoading sitemaps) {
    QString error;
    std::unique_ptr<CHMDocument> doc = CHMDocument::open(file, &error, sitemaps);
    if (!doc)
        err(error);
    return doc;
}

// A reading process that died while the command read the book leaves its answers partial (the
// rest read as missing): nothing of them may pass for the whole. Asked before anything is
// printed; says so in one line.
bool readingProcessLost(const CHMDocument& doc, const QString& file) {
    if (!doc.isDamaged())
        return false;
    err(QStringLiteral("%1: the book's reading process has stopped; the file is damaged")
            .arg(file));
    return true;
}

// What "list" prints, "cat" reads: a name the directory lists (the "::DataSpace/" streams too)
// is read as that entry; any other path as the reader asks for a page.
int cat(CHMDocument* doc, const QString& file, const QString& path) {
    const QByteArray name = path.toUtf8();
    const auto& objects = doc->objects();
    const auto listed = std::find_if(objects.begin(), objects.end(),
                                     [&name](const CHMObjectEntry& e) { return e.name == name; });
    // A listed object of length zero (a folder, an empty file) reads as nothing at all.
    if (listed != objects.end() && listed->length == 0)
        return 0;
    const QByteArray bytes =
        listed != objects.end() ? doc->contentOfEntry(*listed) : doc->content(path);
    if (readingProcessLost(*doc, file))
        return 1;
    if (bytes.isNull()) {
        err(QStringLiteral("%1: no such object, or it cannot be read").arg(path));
        return 1;
    }
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    return 0;
}

// Depth-first, two spaces a level below the top; the synthetic root is not printed. Iterative,
// so a hostile depth cannot exhaust the stack.
void printTree(const CHMTableOfContent* tree) {
    if (!tree)
        return;
    struct Frame {
        const LinkItem* item;
        size_t next;
    };
    std::vector<Frame> stack{{tree->rootItems(), 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        const auto& children = top.item->children();
        if (top.next >= children.size()) {
            stack.pop_back();
            continue;
        }
        const LinkItem* child = children[top.next++].get();
        const QString indent(static_cast<qsizetype>(2 * (stack.size() - 1)), QLatin1Char(' '));
        out(indent + child->name() + QLatin1Char('\t') + child->path());
        stack.push_back({child, 0});
    }
}

// Answers the URL as the reader's scheme handler does with the file's automatic encoding. A
// page that is not in the book is "missing" and fails the command, though its bytes (the
// reader's own missing-page page, what a view shows) are still written out.
int serve(CHMDocument* doc, const QString& file, const QString& urlText, const QString& outPath) {
    ITSSResponse response;
    const QUrl url(urlText);
    if (ITSSProtocol::canInitWithRequest(url))
        response = ITSSProtocol::startLoading(url, doc, doc->currentEncodingName(), false);
    // A page read as missing because the process died is no missing page.
    if (readingProcessLost(*doc, file))
        return 1;
    const QLatin1String status = !response.ok             ? QLatin1String("fail")
                                 : response.isMissingPage ? QLatin1String("missing")
                                                          : QLatin1String("ok");
    out(QStringLiteral("status: ") + status);
    out(QStringLiteral("mime: ") + QString::fromLatin1(response.mimeType));
    out(QStringLiteral("charset: ") + QString::fromLatin1(response.charset));
    out(QStringLiteral("length: ") + QString::number(response.bytes.size()));
    if (!response.ok)
        return 1;
    if (!outPath.isEmpty()) {
        QSaveFile file(outPath);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(response.bytes) != response.bytes.size() || !file.commit()) {
            err(QStringLiteral("%1: cannot write: %2").arg(outPath, file.errorString()));
            return 1;
        }
    }
    return response.isMissingPage ? 1 : 0;
}

// The full-text search (once the index is complete): score, name and path of each hit, best
// first. With "--index", the keyword-index search: name and path of each top-level entry.
int search(const QStringList& args) {
    const bool inIndex = args.size() == 3 && args[0] == QLatin1String("--index");
    if (args.size() != 2 && !inIndex)
        return usage();
    const QString& file = args[inIndex ? 1 : 0];
    std::unique_ptr<CHMDocument> doc = open(file, CHMDocument::SitemapLoading::Now);
    if (!doc)
        return 1;
    const QString& text = args.back();
    if (inIndex) {
        const auto found = CHMSearchIndex::searchInIndex(doc->indexSource().get(), text);
        if (readingProcessLost(*doc, file))
            return 1;
        if (found) {
            for (const LinkItemPtr& item : found->rootItems()->children())
                out(item->name() + QLatin1Char('\t') + item->path());
        }
        return 0;
    }
    CHMSearchIndex index(*doc);
    index.prepareSearchIndex();
    const std::shared_ptr<CHMSearchResult> found = index.searchInFile(text);
    // The index of a book whose process died holds only the pages read before: its hits are
    // not the book's.
    if (readingProcessLost(*doc, file))
        return 1;
    if (index.status() == CHMSearchIndex::Status::Unavailable) {
        err(QStringLiteral("%1: the search index cannot be built: %2")
                .arg(file, index.failureReason()));
        return 1;
    }
    if (!found)
        return 0;
    for (const LinkItemPtr& item : found->rootItems()->children()) {
        const auto* hit = dynamic_cast<const ScoredLinkItem*>(item.get());
        const float score = hit ? hit->relScore() : 0.0f;
        out(QString::asprintf("%.3f", static_cast<double>(score)) + QLatin1Char('\t') +
            item->name() + QLatin1Char('\t') + item->path());
    }
    return 0;
}

} // namespace

QString chmToolUsage() {
    return QStringLiteral("usage: chmtool info|toc|index|pages|list FILE | chmtool cat FILE PATH | "
                          "chmtool serve FILE URL [-o OUT] | chmtool search [--index] FILE TEXT | "
                          "chmtool export FILE OUTFOLDER");
}

bool isHelpRequest(const QString& argument) {
    return argument == QLatin1String("--help") || argument == QLatin1String("-h");
}

int runChmTool(const QStringList& args) {
    if (args.size() == 1 && isHelpRequest(args[0])) {
        out(chmToolUsage());
        return 0;
    }
    if (!args.isEmpty() && args[0] == QLatin1String("search"))
        return search(args.mid(1));
    const QString command = args.value(0);
    const bool oneFile =
        args.size() == 2 && (command == QLatin1String("info") || command == QLatin1String("toc") ||
                             command == QLatin1String("index") ||
                             command == QLatin1String("pages") || command == QLatin1String("list"));
    const bool isCat = command == QLatin1String("cat") && args.size() == 3;
    const bool isServe = command == QLatin1String("serve") &&
                         (args.size() == 3 || (args.size() == 5 && args[3] == QLatin1String("-o")));
    // A malformed command line is told before the book is opened.
    if (!oneFile && !isCat && !isServe)
        return usage();
    const QString& file = args[1];
    const bool needsTrees = command == QLatin1String("toc") || command == QLatin1String("index") ||
                            command == QLatin1String("pages");
    std::unique_ptr<CHMDocument> doc = open(file, needsTrees ? CHMDocument::SitemapLoading::Now
                                                             : CHMDocument::SitemapLoading::Later);
    if (!doc)
        return 1;
    if (isCat)
        return cat(doc.get(), file, args[2]);
    if (isServe)
        return serve(doc.get(), file, args[2], args.size() == 5 ? args[4] : QString());
    // Whatever these print was read while opening.
    if (readingProcessLost(*doc, file))
        return 1;
    if (command == QLatin1String("info")) {
        out(QStringLiteral("title: ") + doc->docTitle());
        out(QStringLiteral("home: ") + doc->homePath());
        out(QStringLiteral("toc: ") + doc->tocPath());
        out(QStringLiteral("index: ") + doc->indexPath());
        out(QStringLiteral("encoding: ") + doc->encodingName());
    } else if (command == QLatin1String("toc")) {
        printTree(doc->tocSource().get());
        reportCut(QStringLiteral("contents"), doc->tocSource().get());
    } else if (command == QLatin1String("index")) {
        printTree(doc->indexSource().get());
        reportCut(QStringLiteral("index"), doc->indexSource().get());
    } else if (command == QLatin1String("pages")) {
        if (const auto toc = doc->tocSource()) {
            for (const auto& page : toc->pageList())
                out(page->path());
        }
    } else {
        for (const CHMObjectEntry& e : doc->objects())
            out(QString::fromUtf8(e.name));
    }
    return 0;
}
