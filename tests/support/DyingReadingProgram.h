// A reading program that dies mid-way, for the tests of what the reader and chmtool make of a
// lost book: the stand-in tests/tools/DyingChmReader.cpp in front of the real program, started
// through a script (the reading process gets none of the caller's environment). Test programs
// that use it define LUMENO_DYING_CHM_READER (the stand-in) and depend on dyingChmReader.
#pragma once

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QFile>

namespace testsupport {

// The path of a script for LUMENO_CHM_READER whose process passes the real program's answers on
// until the reader asks for something that names `marker` (a path or an entry holding those
// bytes), and then dies without answering.
inline QString dyingReadingProgram(const QString& marker) {
    const QString script =
        scratchDir() + QStringLiteral("/dying-reader-") +
        QString::fromLatin1(
            QCryptographicHash::hash(marker.toUtf8(), QCryptographicHash::Md5).toHex()) +
        QStringLiteral(".sh");
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    QByteArray quotedMarker = marker.toUtf8();
    quotedMarker.replace('\'', "'\\''");
    file.write("#!/bin/sh\nexec '" LUMENO_DYING_CHM_READER "' '" + quotedMarker +
               "' '" LUMENO_CHM_READER_DEFAULT "' \"$@\"\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

// chmtool run with LUMENO_CHM_READER naming `readingProgram`.
inline ToolRun runChmToolReadingWith(const QString& readingProgram, const QStringList& args,
                                     int timeoutMs = 120000) {
    return runProgram(
        QStringLiteral("env"),
        QStringList{QStringLiteral("LUMENO_CHM_READER=") + readingProgram, chmtoolPath()} + args,
        timeoutMs);
}

} // namespace testsupport
