// Opening documents in tests: one road, `CHMDocument::open`, as the reader's own callers take.
// Header-only, so that test programs which do not link the viewer need not carry it.
#pragma once

#include "CHMDocument.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

// The document at `path`. With no `error` to fill, failing to open it fails the test (with the
// reader's message); with one, the failure is the caller's to check and nothing is recorded.
inline std::unique_ptr<CHMDocument> openDocument(const QString& path, QString* error = nullptr) {
    QString message;
    std::unique_ptr<CHMDocument> doc = CHMDocument::open(path, &message);
    if (error)
        *error = message;
    else if (!doc)
        ADD_FAILURE() << path.toStdString() << ": " << message.toStdString();
    return doc;
}

// The bytes written to scratchDir()/`name`, opened as above.
inline std::unique_ptr<CHMDocument> openDocument(const QString& name, const QByteArray& bytes,
                                                 QString* error = nullptr) {
    return openDocument(writeScratchFile(name, bytes), error);
}

} // namespace testsupport
