// A .chm file taken apart into the fields a hostile file plays with, and put back together.
//
// `parse` reads any file leniently (a damaged chunk ends that chunk's entries, nothing more):
// the directory's entries in chunk order, and the uncompressed section's bytes. `write` lays the
// entries out again in listing chunks of the model's chunk size, with an index chunk over them
// when asked, and puts the content after the directory, so entry offsets stay valid. Between
// the two, a test or the fuzzer's mutator edits fields: names (case, NUL, twins), sections,
// offsets, lengths, chunk layout and links, and the bytes of the LZX control data and reset
// table found through their entries.
//
// Plain data; no I/O.
#pragma once

#include <QByteArray>
#include <optional>
#include <vector>

namespace chmcraft {

struct Entry {
    QByteArray name;
    quint64 section = 0;
    quint64 offset = 0;
    quint64 length = 0;
};

struct Model {
    std::vector<Entry> entries; // in the order they are written
    QByteArray content;         // the uncompressed section, from its first byte to the file's end
    quint32 chunkSize = 0x1000;
    // Entries per listing chunk; 0 packs each chunk full. Chunk breaks decide which chunk the
    // index leads a lookup to.
    int entriesPerChunk = 0;
    bool withIndex = false; // a PMGI root naming each listing chunk by its first entry
    // Chunk links to write instead of the plain chain (listing chunk number -> prev/next).
    std::vector<std::pair<qint32, qint32>> links;

    // The entry chmlib would match first for a name (exact bytes), or null.
    Entry* find(const QByteArray& name);
    // The bytes of an uncompressed entry inside `content` (empty when it lies outside).
    QByteArray bytesOf(const Entry& e) const;
    // Overwrites a little-endian field inside an uncompressed entry's bytes; false outside it.
    bool patch(const Entry& e, quint64 at, quint64 value, int width);
};

std::optional<Model> parse(const QByteArray& file);
QByteArray write(const Model& model);

extern const char* const kControlData;
extern const char* const kResetTable;
extern const char* const kContent;

} // namespace chmcraft
