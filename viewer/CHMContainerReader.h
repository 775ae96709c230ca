// The container code proper: the checks of the container's own structures (CHMContainerLayout,
// ChmlibLookup, CHMDirectoryWalk, LzxFrameCheck) and chmlib behind them, over one open file.
//
// chmlib is unmaintained and crafted files have reached faults in it, so the reader never runs
// this class in its own process: the reading program (tools/chmreader) serves a document from
// it over a socket, confined. The fuzz targets and the container tests use it directly.
//
// Not thread-safe: one caller at a time (the reading program is single-threaded).
#pragma once

#include "CHMContainerLayout.h"
#include "CHMOpenFailure.h"
#include "LzxRangeSafety.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

struct chmFile;

class CHMContainerReader {
public:
    ~CHMContainerReader();
    CHMContainerReader(const CHMContainerReader&) = delete;
    CHMContainerReader& operator=(const CHMContainerReader&) = delete;

    // Checks the container of the open file, then has chmlib open that very file (through this
    // process's descriptor, not whatever its path names by then). `afterChmOpen` runs as soon as
    // chmlib has its file and before any object is read (the reading program confines itself
    // there); when it answers false the opening fails with its `failure`. Null and `failure`
    // set when the file cannot be used.
    static std::unique_ptr<CHMContainerReader>
    open(std::unique_ptr<QFile> file, CHMOpenFailure* failure,
         const std::function<bool(CHMOpenFailure*)>& afterChmOpen = {});
    // The same for a path (the fuzz targets and tests).
    static std::unique_ptr<CHMContainerReader> open(const QString& path, CHMOpenFailure* failure);

    // The object's whole bytes: the path gets a leading "/" when it has none. Null when the path
    // names no object, the object is empty, larger than kMaxObjectLength, or cannot be read
    // completely.
    QByteArray content(const QString& path);
    // At most `length` bytes of the object from `offset` on (a sitemap read in pieces); null as
    // above, or when `offset` is past the object's end.
    QByteArray content(const QString& path, quint64 offset, quint64 length);
    // Whether chmlib resolves the path as given (no normalisation).
    bool exist(const QString& path);
    // Every object of the container as its directory lists it (the full walk).
    const std::vector<CHMObjectEntry>& objects() const { return m_layout.objects(); }
    // Reads one listed object through chmlib; null when it cannot be read completely.
    QByteArray contentOfEntry(const CHMObjectEntry& entry);

    // The book's name in log lines (the file itself may have come as a bare descriptor).
    void setLogName(const QString& name) { m_logName = name; }

    // The largest object read into memory.
    static constexpr quint64 kMaxObjectLength = 256ull << 20;

private:
    CHMContainerReader(chmFile* handle, CHMContainerLayout layout, std::unique_ptr<QFile> file);
    QByteArray retrieve(void* unitInfo, quint64 offset = 0, quint64 length = ~0ull);
    // Whether chmlib's decoder reads every frame it needs for [start, start + length) of the
    // LZX section from that frame's own bytes; checked once per reset interval.
    bool compressedRangeIsSafe(quint64 start, quint64 length);

    chmFile* m_handle;
    CHMContainerLayout m_layout;
    std::unique_ptr<QFile> m_file;        // the file the checks read, kept open for them
    LzxRangeSafety m_resetIntervalSafety; // the reset intervals checked so far, and their answers
    QString m_logName;
};
