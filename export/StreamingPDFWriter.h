// The exported PDF, written out object by object as the export makes them, so that what the
// export holds in memory does not grow with the book: a page's objects go to the file when the
// page is appended, and at the end only the page tree, the outline, the catalog and the
// cross-reference stream are left to write.
//
// qpdf's writer needs the whole document in memory (every object of every page, until the end),
// so the file's structure is written here: a PDF 1.5 file whose non-stream objects are packed a
// hundred at a time into compressed object streams, its streams written whole as they come, and a
// compressed cross-reference stream at the end. Object numbers are handed out by `reserve`; an
// object may be written any time after, in any order, or never (a number never written is listed
// as free, and reads as null).
//
// The file is a temporary one in the target's folder (QSaveFile), made when the first byte is
// written, and renamed over the target by `commit` only when everything was written; otherwise the
// target is untouched and nothing is left behind. The first failure (a full disk, a folder that
// takes no file) is kept: later writes do nothing, and `commit` reports it.
//
// Not thread-safe: used by one thread at a time (the one that appends pages, then the one that
// finishes the export), handed over under the export's own synchronisation.
#pragma once

#include <QSaveFile>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class StreamingPDFWriter {
public:
    // Non-stream objects per object stream, as qpdf packs them.
    static constexpr std::size_t kObjectsPerStream = 100;

    explicit StreamingPDFWriter(const QString& path);
    ~StreamingPDFWriter();
    StreamingPDFWriter(const StreamingPDFWriter&) = delete;
    StreamingPDFWriter& operator=(const StreamingPDFWriter&) = delete;

    // A new object number (from 1 up).
    int reserve();
    // A non-stream object: its value in PDF syntax ("<< ... >>", "[ ... ]", a number...).
    void writeObject(int number, std::string_view value);
    // A stream: its dictionary's entries without "/Length" (" /Filter /FlateDecode ..."), and its
    // data as it is to be stored (already encoded by those filters).
    void writeStream(int number, std::string_view entries, const unsigned char* data,
                     std::size_t length);
    // The file's header names at least this version (the inputs' own, when newer than 1.5).
    void requireVersion(int major, int minor);

    // Writes what is still held, the cross-reference stream with `root` as the catalog, and
    // renames the file over the target. False with the cause when anything failed, now or
    // earlier; the target is then untouched. The writer takes nothing more afterwards.
    bool commit(int root, QString* error);

    bool failed() const { return m_failed; }
    // Streams written so far, not counting the object streams and the cross-reference stream.
    std::size_t streamsWritten() const { return m_streams; }
    // Objects given to the writer and not yet in the file: those waiting for their object stream.
    std::size_t objectsHeld() const { return m_batchNumbers.size(); }

    // Data compressed with the Flate filter, as a stream stores it.
    static std::string deflated(const unsigned char* data, std::size_t length);
    // " <number> 0 R", a reference to an object.
    static std::string reference(int number);

private:
    struct XrefEntry {
        std::uint64_t field2 = 0; // type 1: the offset; type 2: the object stream's number
        std::uint32_t field3 = 0; // type 2: the index within the object stream
        std::uint8_t type = 0;    // 0 free, 1 in the file, 2 in an object stream
    };

    bool open();
    void put(std::string_view bytes);
    void flushBuffer();
    void flushObjectStream();
    void emitStream(int number, std::string_view entries, std::string_view data);
    void fail(int cause);
    bool writeVersion();
    std::string crossReferenceData(int* offsetBytes, int* thirdBytes) const;

    QSaveFile m_file;
    bool m_opened = false;
    bool m_failed = false;
    bool m_committed = false;
    QString m_failure;
    std::string m_buffer;          // bytes not yet handed to the file
    std::uint64_t m_offset = 0;    // bytes of the file so far, buffered ones included
    std::vector<XrefEntry> m_xref; // by object number; entry 0 is the head of the free list
    std::string m_batch;           // objects waiting for their object stream, one after another
    std::vector<int> m_batchNumbers;
    std::vector<std::size_t> m_batchOffsets;
    std::size_t m_streams = 0;
    int m_major = 1;
    int m_minor = 5;
};
