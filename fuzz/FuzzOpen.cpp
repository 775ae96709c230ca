#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "CHMContainerReader.h"
#include "CHMMetadataReader.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"

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

    // The container code in this process, as the reading program runs it for the reader: a
    // fault shows here, under this build's sanitizers.
    CHMOpenFailure failure;
    const std::unique_ptr<CHMContainerReader> reader =
        CHMContainerReader::open(scratch.path(), &failure);
    if (!reader) {
        check(failure.kind != CHMOpenFailure::None, "a refused file gets no reason");
        check(!failure.message(QStringLiteral("x.chm")).isEmpty(),
              "a refused file gets no message");
        return 0;
    }
    for (const CHMObjectEntry& entry : reader->objects()) {
        const QByteArray bytes = reader->contentOfEntry(entry);
        check(static_cast<quint64>(bytes.size()) <= CHMContainerReader::kMaxObjectLength,
              "an object larger than the cap was read");
    }
    // What the document reads first: the metadata, then the sitemaps it names.
    CHMMetadata meta;
    CHMMetadataReader metadata([&](const QString& p) { return reader->content(p); },
                               [&](const QString& p) { return reader->exist(p); });
    metadata.read(&meta);
    for (const QString& path : {meta.homePath, meta.tocPath, meta.indexPath}) {
        const QByteArray bytes = reader->content(path);
        check(static_cast<quint64>(bytes.size()) <= CHMContainerReader::kMaxObjectLength,
              "an object larger than the cap was read");
        reader->exist(path);
    }
    const QString encoding = meta.encodingName;
    for (const QString& chosen : {encoding, QStringLiteral("CP1251")}) {
        // The user may pick another encoding: the trees are built again from the same objects.
        if (!meta.tocPath.isEmpty()) {
            const CHMTableOfContent toc(reader->content(meta.tocPath), chosen);
            exerciseTree(&toc, meta.homePath);
        }
        if (!meta.indexPath.isEmpty()) {
            CHMTableOfContent index(reader->content(meta.indexPath), chosen);
            index.sort();
            exerciseTree(&index, meta.homePath);
        }
    }
    return 0;
}

} // namespace fuzz
