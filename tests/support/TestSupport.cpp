#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
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

static QString corpusDir() {
    return envOr("LUMENO_CORPUS", QStringLiteral(LUMENO_CORPUS_DEFAULT)) + "/real";
}

QString corpusPath(const QString& fileName) {
    return corpusDir() + "/" + fileName;
}

bool corpusRequired() {
    return qgetenv("CI") == "true";
}

bool toolRequired() {
    return corpusRequired();
}

QString missingCorpus(const QString& fileName) {
    const QString path = fileName.isEmpty() ? corpusDir() : corpusPath(fileName);
    if (fileName.isEmpty() ? QDir(path).exists() : QFile::exists(path))
        return {};
    return QStringLiteral("the real-world corpus is missing (%1); set LUMENO_CORPUS to the folder "
                          "that holds real/")
        .arg(path);
}

QStringList corpusFiles() {
    QDir dir(corpusDir());
    QStringList out;
    for (const QString& f : dir.entryList({"*.chm"}, QDir::Files, QDir::Name))
        out << dir.filePath(f);
    if (out.isEmpty()) {
        const QString why =
            missingCorpus().isEmpty() ? "the corpus holds no .chm: " + dir.path() : missingCorpus();
        // Test programs also ask while they register their cases, where no test can fail yet.
        if (corpusRequired() && ::testing::UnitTest::GetInstance()->current_test_info())
            ADD_FAILURE() << why.toStdString();
        else
            std::fprintf(stderr, "note: %s; its cases are skipped\n", qUtf8Printable(why));
    }
    return out;
}

QString chmtoolPath() {
    return envOr("LUMENO_CHMTOOL", QStringLiteral(LUMENO_CHMTOOL_DEFAULT));
}

// Books are read by the reading program of this build; the tests' subprocesses (chmtool, the
// reader) inherit it from here.
static const bool readingProgramSet = [] {
    if (qEnvironmentVariableIsEmpty("LUMENO_CHM_READER"))
        qputenv("LUMENO_CHM_READER", QByteArray(LUMENO_CHM_READER_DEFAULT));
    return true;
}();

QString resourcesPath() {
    return envOr("LUMENO_RESOURCES", QStringLiteral(LUMENO_RESOURCES_DEFAULT));
}

QStringList ToolRun::lines() const {
    return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
}

ToolRun runChmTool(const QStringList& args) {
    QProcess tool;
    tool.start(chmtoolPath(), args);
    const bool finished = tool.waitForFinished(120000);
    if (!finished)
        tool.kill();
    ToolRun run;
    run.status = finished && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.out = tool.readAllStandardOutput();
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
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

EnvironmentValue::EnvironmentValue(const char* name, const QByteArray& value)
    : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_saved(qgetenv(name)) {
    qputenv(name, value);
}

EnvironmentValue::~EnvironmentValue() {
    if (m_wasSet)
        qputenv(m_name, m_saved);
    else
        qunsetenv(m_name);
}

StandardErrorCapture::StandardErrorCapture() : m_file(std::make_unique<QTemporaryFile>()) {
    if (m_file->open()) {
        std::fflush(stderr);
        m_saved = ::dup(2);
        ::dup2(m_file->handle(), 2);
    }
}

StandardErrorCapture::~StandardErrorCapture() {
    restore();
}

QByteArray StandardErrorCapture::bytes() {
    restore();
    m_file->seek(0);
    return m_file->readAll();
}

void StandardErrorCapture::restore() {
    if (m_saved < 0)
        return;
    std::fflush(stderr);
    ::dup2(m_saved, 2);
    ::close(m_saved);
    m_saved = -1;
}

QByteArray readWholeFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace testsupport

namespace {

// The reader finds its resources beside its executable; a test program lives elsewhere in the
// build tree, so it is pointed at the folder the build prepared, unless the caller chose one.
const bool resourcesChosen = [] {
    if (qEnvironmentVariableIsEmpty("LUMENO_RESOURCES"))
        qputenv("LUMENO_RESOURCES", QByteArray(LUMENO_RESOURCES_DEFAULT));
    return true;
}();

} // namespace
