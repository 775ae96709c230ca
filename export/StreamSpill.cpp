#include "StreamSpill.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <qpdf/Buffer.hh>
#include <qpdf/Pipeline.hh>
#include <stdexcept>
#include <unistd.h>
#include <vector>

StreamSpill::StreamSpill() {
    // No name at all: nothing is left behind, even when the process is killed.
    m_fd = ::open(QFile::encodeName(QDir::tempPath()).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC,
                  0600);
}

StreamSpill::~StreamSpill() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool StreamSpill::spill(QPDFObjectHandle stream, const std::shared_ptr<StreamSpill>& self) {
    if (m_fd < 0 || !stream.isStream())
        return false;
    const QPDFObjGen og = stream.getObjGen();
    if (m_extents.count(og))
        return true;
    const std::shared_ptr<Buffer> raw = stream.getRawStreamData();
    const unsigned char* data = raw->getBuffer();
    const std::uint64_t length = raw->getSize();
    std::uint64_t written = 0;
    while (written < length) {
        const ssize_t n = ::pwrite(m_fd, data + written, static_cast<size_t>(length - written),
                                   static_cast<off_t>(m_size + written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // a full disk: this stream and the later ones stay in memory
        written += static_cast<std::uint64_t>(n);
    }
    m_extents[og] = {m_size, length};
    m_size += length;
    QPDFObjectHandle dict = stream.getDict();
    stream.replaceStreamData(self, dict.getKey("/Filter"), dict.getKey("/DecodeParms"));
    return true;
}

void StreamSpill::provideStreamData(QPDFObjGen const& og, Pipeline* pipeline) {
    const auto extent = m_extents.find(og);
    if (extent == m_extents.end())
        throw std::runtime_error("no spilled data for a stream");
    std::vector<unsigned char> chunk(64 * 1024);
    std::uint64_t done = 0;
    while (done < extent->second.length) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(chunk.size(), extent->second.length - done));
        const ssize_t n =
            ::pread(m_fd, chunk.data(), want, static_cast<off_t>(extent->second.offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("the export's temporary file could not be read back");
        pipeline->write(chunk.data(), static_cast<size_t>(n));
        done += static_cast<std::uint64_t>(n);
    }
    pipeline->finish();
}
