// Keeps the data of the output's streams in an anonymous temporary file instead of memory: once a
// printed page is appended, its streams (page contents, fonts, images) are written out and read
// back only when the PDF is written. What the export holds in memory is then the objects' structure
// alone, not every page's data.
//
// The file has no name (it goes when the export does, whatever way it ends) and lives in the
// temporary folder. A stream keeps its filters: its data is stored as it is encoded. Used on the
// exporter's thread only; qpdf calls back while it writes the PDF on that same thread.
#pragma once

#include <cstdint>
#include <map>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

class StreamSpill : public QPDFObjectHandle::StreamDataProvider {
public:
    StreamSpill();
    ~StreamSpill() override;
    StreamSpill(const StreamSpill&) = delete;
    StreamSpill& operator=(const StreamSpill&) = delete;

    // False when no temporary file could be made: streams then stay in memory.
    bool ok() const { return m_fd >= 0; }
    // Moves the stream's data to the file and makes `self` (this spill, as qpdf holds it) its
    // source. False, with the data left where it was, when the file takes no more.
    bool spill(QPDFObjectHandle stream, const std::shared_ptr<StreamSpill>& self);

    std::size_t spilledStreams() const { return m_extents.size(); }
    std::uint64_t spilledBytes() const { return m_size; }

    void provideStreamData(QPDFObjGen const& og, Pipeline* pipeline) override;

private:
    struct Extent {
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::map<QPDFObjGen, Extent> m_extents;
};
