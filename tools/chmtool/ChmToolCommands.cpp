#include "ChmToolCommands.h"

#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"

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

int usage() {
    err(QStringLiteral("usage: chmtool info|toc|index|pages|list FILE | chmtool cat FILE PATH"));
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

} // namespace

int runChmTool(const QStringList& args) {
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
        return 0;
    }
    if (command == QLatin1String("index") && args.size() == 2) {
        printTree(doc->indexSource().get());
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
            err(QStringLiteral("%1: no such object, or it cannot be read").arg(args[2]));
            return 1;
        }
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
        return 0;
    }
    return usage();
}
