#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// Aborts with a message when an invariant does not hold (libFuzzer records it as a crash).
void check(bool holds, const char* what);

// One scratch file per process and target, rewritten for every input (in /dev/shm where there
// is one) and removed when the process ends: chmlib reads files, not memory.
class ScratchFile {
public:
    explicit ScratchFile(const QString& target);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool write(const uint8_t* data, size_t size) const;
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

} // namespace fuzz
