// A PDF file read through qpdf that holds its descriptor only while it is the file being read:
// the sources of a merge take turns, so at most one of them per thread is open at any time
// however many the merge has taken pages from. Reading goes on where it stopped when the file
// is opened again. A source whose file is open belongs to the thread that opened it: it is read,
// closed or destroyed there (a merge opens, copies, writes and ends on one thread).
// Reopening finds the file by its name, so a file replaced or changed meanwhile would be read at
// offsets that are no longer its own: such a file is refused (std::runtime_error) instead.
#pragma once

#include <qpdf/FileInputSource.hh>
#include <qpdf/InputSource.hh>

#include <memory>
#include <string>
#include <sys/stat.h>

namespace conversion {

class TakeTurnsFileSource : public InputSource {
public:
    explicit TakeTurnsFileSource(std::string path);
    ~TakeTurnsFileSource() override;
    TakeTurnsFileSource(const TakeTurnsFileSource&) = delete;
    TakeTurnsFileSource& operator=(const TakeTurnsFileSource&) = delete;

    qpdf_offset_t findAndSkipNextEOL() override;
    std::string const& getName() const override { return m_path; }
    qpdf_offset_t tell() override;
    void seek(qpdf_offset_t offset, int whence) override;
    void rewind() override;
    size_t read(char* buffer, size_t length) override;
    void unreadCh(char ch) override;

    // Gives up the descriptor; the next read opens the file again.
    void close();
    // Whether the file under its name is still the one first read; else why not, in `error`.
    bool unchanged(std::string& error) const;

private:
    FileInputSource& file();
    std::string m_path;
    std::unique_ptr<FileInputSource> m_file;
    qpdf_offset_t m_offset = 0; // where reading goes on while the file is closed
    bool m_identityKnown = false;
    struct stat m_identity {}; // the file as first opened: device, inode, size, times
};

} // namespace conversion
