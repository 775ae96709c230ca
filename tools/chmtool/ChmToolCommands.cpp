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
    err(QStringLiteral("usage: chmtool info|toc|index|pages|list FILE | chmtool cat FILE PATH | "
                       "chmtool serve FILE URL [-o OUT] | chmtool search [--index] FILE TEXT | "
                       "chmtool export FILE OUTFOLDER"));
    return 2;
}

std::unique_ptr<CHMDocument> open(const QString& file) {
    auto doc = std::make_unique<CHMDocument>();
    QString error;
    if (!doc->readFromURL(QUrl::fromLocalFile(file), QStringLiteral("chm"), &error)) {
        err(error);
        return nullptr;
    }
    return doc;
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
int serve(CHMDocument* doc, const QString& urlText, const QString& outPath) {
    ITSSResponse response;
    const QUrl url(urlText);
    if (ITSSProtocol::canInitWithRequest(url))
        response = ITSSProtocol::startLoading(url, doc, doc->currentEncodingName(), false);
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
    std::unique_ptr<CHMDocument> doc = open(args[inIndex ? 1 : 0]);
    if (!doc)
        return 1;
    const QString& text = args.back();
    if (inIndex) {
        const auto found = CHMSearchIndex::searchInIndex(doc->indexSource().get(), text);
        if (found) {
            for (const LinkItemPtr& item : found->rootItems()->children())
                out(item->name() + QLatin1Char('\t') + item->path());
        }
        return 0;
    }
    CHMSearchIndex index(*doc);
    index.prepareSearchIndex();
    const std::shared_ptr<CHMSearchResult> found = index.searchInFile(text);
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

int runChmTool(const QStringList& args) {
    if (!args.isEmpty() && args[0] == QLatin1String("search"))
        return search(args.mid(1));
    if (args.size() < 2)
        return usage();
    const QString& command = args[0];
    std::unique_ptr<CHMDocument> doc = open(args[1]);
    if (!doc)
        return 1;
    if (command == QLatin1String("info") && args.size() == 2) {
        out(QStringLiteral("title: ") + doc->docTitle());
        out(QStringLiteral("home: ") + doc->homePath());
        out(QStringLiteral("toc: ") + doc->tocPath());
        out(QStringLiteral("index: ") + doc->indexPath());
        out(QStringLiteral("encoding: ") + doc->encodingName());
        return 0;
    }
    if (command == QLatin1String("toc") && args.size() == 2) {
        printTree(doc->tocSource().get());
        reportCut(QStringLiteral("contents"), doc->tocSource().get());
        return 0;
    }
    if (command == QLatin1String("index") && args.size() == 2) {
        printTree(doc->indexSource().get());
        reportCut(QStringLiteral("index"), doc->indexSource().get());
        return 0;
    }
    if (command == QLatin1String("pages") && args.size() == 2) {
        if (const auto toc = doc->tocSource()) {
            for (const auto& page : toc->pageList())
                out(page->path());
        }
        return 0;
    }
    if (command == QLatin1String("list") && args.size() == 2) {
        for (const CHMObjectEntry& e : doc->objects())
            out(QString::fromUtf8(e.name));
        return 0;
    }
    if (command == QLatin1String("cat") && args.size() == 3) {
        const QByteArray bytes = doc->content(args[2]);
        if (bytes.isNull()) {
            err(doc->isDamaged()
                    ? QStringLiteral("%1: the book's reading process has stopped; the file is "
                                     "damaged")
                          .arg(args[1])
                    : QStringLiteral("%1: no such object, or it cannot be read").arg(args[2]));
            return 1;
        }
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
        return 0;
    }
    if (command == QLatin1String("serve") &&
        (args.size() == 3 || (args.size() == 5 && args[3] == QLatin1String("-o")))) {
        return serve(doc.get(), args[2], args.size() == 5 ? args[4] : QString());
    }
    return usage();
}
