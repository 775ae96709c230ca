#include "TakeTurnsFileSource.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace conversion {

namespace {

// The source of this thread whose file is open. A merge reads its sources on its own thread,
// both while it takes pages and while it writes, so one slot per thread is enough.
thread_local TakeTurnsFileSource* t_open = nullptr;

} // namespace

TakeTurnsFileSource::TakeTurnsFileSource(std::string path) : m_path(std::move(path)) {}

TakeTurnsFileSource::~TakeTurnsFileSource() {
    if (t_open == this)
        t_open = nullptr;
}

FileInputSource& TakeTurnsFileSource::file() {
    if (!m_file) {
        if (t_open && t_open != this)
            t_open->close();
        std::string error;
        if (!unchanged(error))
            throw std::runtime_error(error);
        if (!m_identityKnown) {
            ::stat(m_path.c_str(), &m_identity);
            m_identityKnown = true;
        }
        auto opened = std::make_unique<FileInputSource>(m_path.c_str());
        opened->seek(m_offset, SEEK_SET);
        m_file = std::move(opened);
        t_open = this;
    }
    return *m_file;
}

bool TakeTurnsFileSource::unchanged(std::string& error) const {
    struct stat now {};
    if (::stat(m_path.c_str(), &now) != 0) {
        error = m_path + " cannot be read again: " + std::strerror(errno);
        return false;
    }
    // The change time too: a file written in place can have its modification time set back,
    // but not its change time.
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    if (m_identityKnown &&
        (now.st_dev != m_identity.st_dev || now.st_ino != m_identity.st_ino ||
         now.st_size != m_identity.st_size || !same(now.st_mtim, m_identity.st_mtim) ||
         !same(now.st_ctim, m_identity.st_ctim))) {
        error = m_path + " changed while it was being merged";
        return false;
    }
    return true;
}

void TakeTurnsFileSource::close() {
    if (!m_file)
        return;
    m_offset = m_file->tell();
    m_file.reset();
    if (t_open == this)
        t_open = nullptr;
}

qpdf_offset_t TakeTurnsFileSource::findAndSkipNextEOL() {
    const qpdf_offset_t result = file().findAndSkipNextEOL();
    last_offset = m_file->getLastOffset();
    return result;
}

qpdf_offset_t TakeTurnsFileSource::tell() {
    return m_file ? m_file->tell() : m_offset;
}

void TakeTurnsFileSource::seek(qpdf_offset_t offset, int whence) {
    file().seek(offset, whence);
}

void TakeTurnsFileSource::rewind() {
    file().rewind();
}

size_t TakeTurnsFileSource::read(char* buffer, size_t length) {
    const size_t n = file().read(buffer, length);
    last_offset = m_file->getLastOffset();
    return n;
}

void TakeTurnsFileSource::unreadCh(char ch) {
    file().unreadCh(ch);
}

} // namespace conversion
