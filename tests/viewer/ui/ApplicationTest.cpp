// The application object: which files open, one window per file, and what the user is told
// when a file cannot be opened.
#include "CHMDocument.h"
#include "CHMDocumentWindow.h"
#include "LumenoApplication.h"
#include "TestSupport.h"
#include "WebTestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Collects the messages instead of showing them.
class RecordingApplication : public LumenoApplication {
public:
    QStringList errors;

protected:
    void reportError(QWidget*, const QString& message) override { errors << message; }
};

class Application : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings(QStringLiteral("Lumeno"), QStringLiteral("Lumeno+")).clear();
    }
    void TearDown() override {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::unique_ptr<RecordingApplication> app = std::make_unique<RecordingApplication>();
};

} // namespace

TEST_F(Application, OpensSeveralFilesEachInItsOwnWindow) {
    const int shown =
        app->openFiles({testsupport::fixturePath("nested"), testsupport::fixturePath("sample")});
    EXPECT_EQ(shown, 2);
    ASSERT_EQ(app->windows().size(), 2);
    EXPECT_NE(app->windows().at(0), app->windows().at(1));
    EXPECT_TRUE(app->errors.isEmpty());
}

TEST_F(Application, OpeningAnOpenFileAgainBringsItsWindowForward) {
    CHMDocumentWindow* first = app->openFile(testsupport::fixturePath("nested"));
    ASSERT_NE(first, nullptr);
    // The same file under another name.
    const QString link = testsupport::scratchDir() + "/other-name.chm";
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(testsupport::fixturePath("nested"), link));
    EXPECT_EQ(app->openFile(link), first);
    EXPECT_EQ(app->windows().size(), 1);
}

TEST_F(Application, ClosedWindowIsForgotten) {
    CHMDocumentWindow* window = app->openFile(testsupport::fixturePath("nested"));
    ASSERT_NE(window, nullptr);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(app->windows().isEmpty());
    EXPECT_EQ(app->windowForFile(testsupport::fixturePath("nested")), nullptr);
}

TEST_F(Application, RefusesFilesThatAreNotCompiledHelp) {
    const QString text = testsupport::writeScratchFile("notes.txt", "plain text");
    EXPECT_EQ(app->openFile(text), nullptr);
    EXPECT_EQ(app->openFile(testsupport::scratchDir() + "/absent.chm"), nullptr);
    EXPECT_EQ(app->openFile(testsupport::scratchDir()), nullptr);
    ASSERT_EQ(app->errors.size(), 3);
    EXPECT_TRUE(app->errors[0].contains("notes.txt"));
    EXPECT_TRUE(app->errors[0].contains(".chm"));
    EXPECT_TRUE(app->errors[1].contains("absent.chm"));
    EXPECT_TRUE(app->windows().isEmpty());
}

TEST_F(Application, DamagedFileShowsTheReadersReasonAndOpensNothing) {
    const QByteArray whole = testsupport::readWholeFile(testsupport::fixturePath("nested"));
    const QString damaged = testsupport::writeScratchFile("damaged.chm", whole.left(200));
    QString expected;
    ASSERT_EQ(CHMDocument::open(damaged, &expected), nullptr);

    EXPECT_EQ(app->openFile(damaged), nullptr);
    ASSERT_EQ(app->errors.size(), 1);
    EXPECT_EQ(app->errors[0], expected);
    EXPECT_TRUE(app->windows().isEmpty());
}
