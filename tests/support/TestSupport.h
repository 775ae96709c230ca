// Where tests find their inputs: the compiled fixtures, the real-world corpus, scratch folders.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace testsupport {

// Path of the compiled fixture "<name>.chm"; fails the test when it is missing.
QString fixturePath(const QString& name);

// Every .chm of the real-world corpus, sorted; empty when the corpus is not there.
QStringList corpusFiles();
QString corpusPath(const QString& fileName);

// The chmtool program of this build, and the resources folder of the source tree.
QString chmtoolPath();
QString resourcesPath();

// A fresh folder under the system's temporary folder, removed when the process ends.
QString scratchDir();

// Writes bytes to a new file in scratchDir() and answers its path.
QString writeScratchFile(const QString& name, const QByteArray& bytes);

QByteArray readWholeFile(const QString& path);

} // namespace testsupport
