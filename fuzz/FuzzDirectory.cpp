#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "CHMContainerLayout.h"

#include <QByteArray>
#include <QSet>
#include <algorithm>
#include <chm_lib.h>

namespace fuzz {

namespace {

bool sameAs(const chmUnitInfo& ui, const CHMObjectEntry& e) {
    return static_cast<quint64>(ui.space) == e.section && ui.start == e.offset &&
           ui.length == e.length;
}

// A directory the checks accept must mean to chmlib what it means to them: each listed name
// resolves (when chmlib's index reaches it at all) to that same entry, and the LZX streams the
// checks examined are the ones chmlib resolves. (Compressed objects are read by the open target,
// through the document's own checks of each frame.)
void agreesWithChmlib(const uint8_t* data, size_t size, const CHMContainerLayout& layout) {
    static const ScratchFile scratch(QStringLiteral("directory"));
    check(scratch.write(data, size), "the scratch file cannot be written");
    // Opening reads the LZX control data: only safe once every check has passed, which is what
    // this target is here to show.
    chmFile* file = chm_open(scratch.path().toLocal8Bit().constData());
    if (!file)
        return;
    size_t index = 0;
    for (const CHMObjectEntry& e : layout.objects()) {
        if (index++ >= 256)
            break;
        chmUnitInfo ui{};
        if (chm_resolve_object(file, e.name.constData(), &ui) == CHM_RESOLVE_SUCCESS)
            check(sameAs(ui, e), "chmlib resolves a listed name to another entry");
    }
    const CHMCompressionStreams& s = layout.compressionStreams();
    const std::pair<const QByteArray*, const std::optional<CHMObjectEntry>*> streams[] = {
        {&CHMContainerLayout::controlDataName(), &s.controlData},
        {&CHMContainerLayout::resetTableName(), &s.resetTable},
        {&CHMContainerLayout::contentName(), &s.content}};
    for (const auto& [name, seen] : streams) {
        chmUnitInfo ui{};
        const bool found = chm_resolve_object(file, name->constData(), &ui) == CHM_RESOLVE_SUCCESS;
        check(found == seen->has_value(), "chmlib finds an LZX stream the checks did not");
        if (found)
            check(sameAs(ui, **seen), "chmlib reads another LZX stream than the one checked");
    }
    chm_close(file);
}

} // namespace

int fuzzDirectory(const uint8_t* data, size_t size) {
    const QByteArray file =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto fileSize = static_cast<quint64>(size);
    const auto readAt = [&](quint64 at, quint64 length) -> QByteArray {
        check(at <= fileSize && length <= fileSize - at, "a read reaches past the file's end");
        return file.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(length));
    };
    QString reason;
    const auto layout = CHMContainerLayout::parse(file.left(0x60), fileSize, readAt, &reason);
    if (!layout) {
        check(!reason.isEmpty(), "a refused file gets no reason");
        return 0;
    }
    check(layout->chunkCount() > 0 && layout->chunkSize() > 0, "an accepted directory is empty");
    check(static_cast<quint64>(layout->chunkCount()) * layout->chunkSize() <= fileSize,
          "the accepted chunks do not fit in the file");
    check(layout->contentOffset() <= fileSize, "the content starts past the file's end");
    QSet<QByteArray> names;
    size_t index = 0;
    for (const CHMObjectEntry& e : layout->objects()) {
        check(!e.name.isEmpty() && e.name.size() <= CHM_MAX_PATHLEN, "an object name is bad");
        check(e.section <= 1, "an object names an unknown section");
        check(!names.contains(e.name), "an object is listed twice");
        names.insert(e.name);
        // find() is linear: a few lookups keep a run over many objects fast.
        if (index++ < 64)
            check(layout->find(e.name) == &e, "find() misses the first entry of a name");
    }
    agreesWithChmlib(data, size, *layout);
    return 0;
}

} // namespace fuzz
