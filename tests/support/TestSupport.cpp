#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

static QString envOr(const char* name, const QString& fallback) {
    const QByteArray v = qgetenv(name);
    return v.isEmpty() ? fallback : QString::fromLocal8Bit(v);
}

QString fixturePath(const QString& name) {
    const QString path =
        envOr("LUMENO_FIXTURES", QStringLiteral(LUMENO_FIXTURES_DEFAULT)) + "/" + name + ".chm";
    EXPECT_TRUE(QFile::exists(path)) << "missing fixture " << path.toStdString();
    return path;
}

QString corpusPath(const QString& fileName) {
    return envOr("LUMENO_CORPUS", QStringLiteral(LUMENO_CORPUS_DEFAULT)) + "/real/" + fileName;
}

QStringList corpusFiles() {
    QDir dir(envOr("LUMENO_CORPUS", QStringLiteral(LUMENO_CORPUS_DEFAULT)) + "/real");
    QStringList out;
    for (const QString& f : dir.entryList({"*.chm"}, QDir::Files, QDir::Name))
        out << dir.filePath(f);
    return out;
}

QString chmtoolPath() {
    return envOr("LUMENO_CHMTOOL", QStringLiteral(LUMENO_CHMTOOL_DEFAULT));
}

QString resourcesPath() {
    return envOr("LUMENO_RESOURCES", QStringLiteral(LUMENO_RESOURCES_DEFAULT));
}

QString scratchDir() {
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir)
        dir = std::make_unique<QTemporaryDir>();
    return dir->path();
}

QString writeScratchFile(const QString& name, const QByteArray& bytes) {
    const QString path = scratchDir() + "/" + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    f.write(bytes);
    return path;
}

QByteArray readWholeFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace testsupport
