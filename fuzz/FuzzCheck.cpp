#include "FuzzCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

void check(bool holds, const char* what) {
    if (holds)
        return;
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

ScratchFile::ScratchFile(const QString& target) {
    const QString shm = QStringLiteral("/dev/shm");
    const QString dir = QDir(shm).exists() ? shm : QDir::tempPath();
    m_path = QStringLiteral("%1/lumeno-fuzz-%2-%3.chm")
                 .arg(dir, target)
                 .arg(QCoreApplication::applicationPid());
}

ScratchFile::~ScratchFile() {
    QFile::remove(m_path);
}

bool ScratchFile::write(const uint8_t* data, size_t size) const {
    QFile f(m_path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
           static_cast<qint64>(size);
}

} // namespace fuzz
