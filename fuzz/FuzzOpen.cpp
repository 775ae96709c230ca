#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"

#include <QUrl>

namespace {

void exerciseTree(const CHMTableOfContent* toc, const QString& homePath) {
    if (!toc)
        return;
    std::vector<LinkItem*> stack;
    const LinkItem* home = toc->itemForPath(homePath, &stack);
    toc->getNextPage(home);
    toc->getPrevPage(home);
    const auto filtered = CHMTableOfContent::filterByNamePrefix(toc, QStringLiteral("a"));
    filtered->sort();
}

} // namespace

namespace fuzz {

int fuzzOpen(const uint8_t* data, size_t size) {
    static const ScratchFile scratch(QStringLiteral("open"));
    check(scratch.write(data, size), "the scratch file cannot be written");

    CHMDocument doc;
    QString error;
    if (!doc.readFromURL(QUrl::fromLocalFile(scratch.path()), QStringLiteral("chm"), &error)) {
        check(!error.isEmpty(), "a refused file gets no message");
        check(!doc.isOpen(), "a refused file is left open");
        return 0;
    }
    for (const CHMObjectEntry& entry : doc.objects()) {
        const QByteArray bytes = doc.contentOfEntry(entry);
        check(static_cast<quint64>(bytes.size()) <= CHMDocument::kMaxObjectLength,
              "an object larger than the cap was read");
    }
    for (const QString& path : {doc.homePath(), doc.tocPath(), doc.indexPath()}) {
        const QByteArray bytes = doc.content(path);
        check(static_cast<quint64>(bytes.size()) <= CHMDocument::kMaxObjectLength,
              "an object larger than the cap was read");
        doc.exist(path);
    }
    exerciseTree(doc.tocSource().get(), doc.homePath());
    exerciseTree(doc.indexSource().get(), doc.homePath());
    // The user may pick another encoding: the trees are built again from the same objects.
    doc.setCustomizedEncodingName(QStringLiteral("CP1251"));
    doc.setupTOCSource();
    exerciseTree(doc.tocSource().get(), doc.homePath());
    return 0;
}

} // namespace fuzz
