// The application object: which files open, one window per file, and what the user is told
// when a file cannot be opened.
#include "ExportCommand.h"
#include "LumenoApplication.h"
#include "ResourceLocator.h"
#include "SingleInstance.h"
#include "StartWindow.h"
#include "WindowTestFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <atomic>
#include <thread>

// Under AddressSanitizer: freed memory is overwritten at once, so that the Qt libraries, which
// are not instrumented, crash on an object deleted under them instead of going on unnoticed.
extern "C" const char* __asan_default_options() {
    return "max_free_fill_size=65536";
}

namespace {

// Collects the messages instead of showing them (or as well, when asked to).
class RecordingApplication : public LumenoApplication {
public:
    QStringList errors;
    bool showMessages = false;

protected:
    void reportError(QWidget* parent, const QString& message) override {
        errors << message;
        if (showMessages)
            LumenoApplication::reportError(parent, message);
    }
};

class Application : public WindowTestFixture {
protected:
    void TearDown() override {
        app.reset();
        WindowTestFixture::TearDown();
    }
    std::unique_ptr<RecordingApplication> app = std::make_unique<RecordingApplication>();
};

} // namespace

TEST_F(Application, EachFileOpensInOneWindowWhichComesForwardAgainAndIsForgottenOnceClosed) {
    EXPECT_EQ(
        app->openFiles({testsupport::fixturePath("nested"), testsupport::fixturePath("sample")}),
        2);
    ASSERT_EQ(app->windows().size(), 2);
    EXPECT_NE(app->windows().at(0), app->windows().at(1));
    CHMDocumentWindow* first = app->windowForFile(testsupport::fixturePath("nested"));
    ASSERT_NE(first, nullptr);
    // The same file under another name.
    const QString link = testsupport::scratchDir() + "/other-name.chm";
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(testsupport::fixturePath("nested"), link));
    EXPECT_EQ(app->openFile(link), first);
    EXPECT_EQ(app->windows().size(), 2);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(app->windows().size(), 1);
    EXPECT_EQ(app->windowForFile(testsupport::fixturePath("nested")), nullptr);
    EXPECT_TRUE(app->errors.isEmpty());
}

TEST_F(Application, WithoutABookTheStartWindowHasTheApplicationsMenusAndGivesWayToTheFirstBook) {
    StartWindow* start = app->showStartWindow();
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(app->showStartWindow(), start); // one start window, brought forward
    QStringList menus;
    for (QAction* action : start->menuBar()->actions())
        menus << action->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Bookmarks", "&Help"}));
    QStringList fileItems;
    for (QAction* action : start->menuBar()->actions().first()->menu()->actions())
        fileItems << action->text();
    EXPECT_TRUE(fileItems.contains(QStringLiteral("Open…")));
    EXPECT_TRUE(fileItems.contains(QStringLiteral("Quit Lumeno+")));

    ASSERT_NE(app->openFile(testsupport::fixturePath("nested")), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(app->startWindow(), nullptr);
    EXPECT_EQ(app->windows().size(), 1);
}

TEST_F(Application, AnOpenedBookAsksForItsFirstPageBeforeItsWindowPaintsOrItsContentsArrive) {
    CHMDocumentWindow* window = app->openFile(testsupport::fixturePath("nested"));
    ASSERT_NE(window, nullptr);
    // No event has been handled yet: the window has not been painted and the trees of the
    // sitemaps, which come by a queued call, cannot be in; the home page is on its way already.
    EXPECT_TRUE(window->isWebContentStarted());
    EXPECT_FALSE(window->areSitemapsShown());
    ASSERT_EQ(window->tabCount(), 1);
    ASSERT_NE(window->curWebView(), nullptr);
    EXPECT_EQ(window->curWebView()->page()->requestedUrl(),
              CHMDocument::composeURL(window->document()->homePath()));
    webtest::LoadWatcher loads(window);
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_TRUE(loads.lastOk());
    EXPECT_EQ(window->tabCount(), 1);
}

TEST_F(Application, ExportAsPDFInAWindowWritesTheBook) {
    CHMDocumentWindow* window = app->openFile(testsupport::fixturePath("nested"));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->exportAction()->isEnabled());
    auto* command = window->findChild<ExportCommand*>();
    ASSERT_NE(command, nullptr);
    const QString path = testsupport::scratchDir() + "/window-export.pdf";
    QFile::remove(path);
    QSignalSpy ended(command, &ExportCommand::exportEnded);
    command->exportToFile(path);
    ASSERT_TRUE(ended.wait(120000));
    EXPECT_TRUE(ended.at(0).at(0).toBool());
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.read(5).startsWith("%PDF-"));
}

TEST_F(Application, FilesThatDoNotOpenAreRefusedWithTheReadersReason) {
    const QString text = testsupport::writeScratchFile("notes.txt", "plain text");
    const QByteArray whole = testsupport::readWholeFile(testsupport::fixturePath("nested"));
    const QString damaged = testsupport::writeScratchFile("damaged.chm", whole.left(200));
    QString reason;
    ASSERT_EQ(CHMDocument::open(damaged, &reason), nullptr);
    for (const QString& path :
         {text, testsupport::scratchDir() + "/absent.chm", testsupport::scratchDir(), damaged})
        EXPECT_EQ(app->openFile(path), nullptr) << path.toStdString();
    ASSERT_EQ(app->errors.size(), 4);
    EXPECT_TRUE(app->errors[0].contains("notes.txt"));
    EXPECT_TRUE(app->errors[0].contains(".chm"));
    EXPECT_TRUE(app->errors[1].contains("absent.chm"));
    EXPECT_EQ(app->errors[3], reason);
    EXPECT_TRUE(app->windows().isEmpty());
}

TEST_F(Application, HelpOpensTheManualAndTheSupportPageOrSaysWhyItCannot) {
    QList<QUrl> opened;
    bool opens = true;
    app->setUrlOpener([&](const QUrl& url) {
        opened << url;
        return opens;
    });
    app->UserManualHelpAction(nullptr);
    if (!ResourceLocator::resourcePath(app->userManualResourceName()).isEmpty()) {
        ASSERT_EQ(opened.size(), 1);
        EXPECT_TRUE(opened[0].toLocalFile().endsWith("/Lumeno+ User Manual.pdf"));
        EXPECT_TRUE(app->errors.isEmpty());
        // Nothing on the system opens PDF files: the user is told, not left waiting.
        opens = false;
        app->UserManualHelpAction(nullptr);
        ASSERT_EQ(app->errors.size(), 1);
        EXPECT_TRUE(app->errors[0].contains("PDF")) << app->errors[0].toStdString();
    }
    // Nor web pages.
    opens = false;
    opened.clear();
    app->errors.clear();
    app->ContactSupportAction(nullptr);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].scheme(), "https");
    ASSERT_EQ(app->errors.size(), 1);
    EXPECT_TRUE(app->errors[0].contains(opened[0].host()));
    // Without the manual in the resources folder: a message naming the file.
    QTemporaryDir empty;
    qputenv("LUMENO_RESOURCES", empty.path().toUtf8());
    app->errors.clear();
    opened.clear();
    app->UserManualHelpAction(nullptr);
    qunsetenv("LUMENO_RESOURCES");
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_EQ(app->errors.size(), 1);
    EXPECT_TRUE(app->errors[0].contains("Lumeno+ User Manual.pdf")) << app->errors[0].toStdString();
}

TEST_F(Application, SecondStartHandsItsFilesToTheRunningReader) {
    const QString key = QStringLiteral("lumeno-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance running(key);
    SingleInstance second(key);
    // No reader yet: the second start must open the files itself.
    EXPECT_FALSE(second.sendToRunning({"a.chm"}));
    ASSERT_TRUE(running.listen());
    QStringList received;
    QObject::connect(&running, &SingleInstance::filesReceived,
                     [&](const QStringList& paths) { received = paths; });
    // The sender waits for the answer, which needs this thread's event loop: send from another.
    std::atomic<bool> sent = false;
    std::thread sender([&] {
        sent = SingleInstance(key).sendToRunning({testsupport::fixturePath("nested"), "rel.chm"});
    });
    EXPECT_TRUE(webtest::waitUntil([&] { return !received.isEmpty(); }));
    sender.join();
    EXPECT_TRUE(sent);
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[0], testsupport::fixturePath("nested"));
    EXPECT_TRUE(received[1].startsWith('/') && received[1].endsWith("/rel.chm"));
    app->openFiles(received);
    EXPECT_EQ(app->windows().size(), 1);
}

TEST_F(Application, TheRunningReadersSocketIsInTheUsersOwnRuntimeFolderNotTheSharedTemporaryOne) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const QString name = SingleInstance::serverNameForUser();
    {
        SingleInstance running(name);
        EXPECT_TRUE(running.listen());
        EXPECT_TRUE(QFileInfo::exists(runtime.path() + "/lumeno-plus")) << name.toStdString();
    }
    qputenv("XDG_RUNTIME_DIR", before);
    EXPECT_TRUE(name.startsWith(runtime.path() + '/')) << name.toStdString();
    EXPECT_FALSE(name.startsWith(QDir::tempPath() + "/lumeno-plus"));
}

TEST_F(Application, FailedSecondStartLeavesTheRunningReaderAndItsWindowsAlive) {
    ASSERT_EQ(
        app->openFiles({testsupport::fixturePath("nested"), testsupport::fixturePath("sample")}),
        2);
    const QString key =
        QStringLiteral("lumeno-test-failed-%1").arg(QCoreApplication::applicationPid());
    SingleInstance running(key);
    ASSERT_TRUE(running.listen());
    QObject::connect(&running, &SingleInstance::filesReceived, app.get(),
                     &LumenoApplication::openHandedOverFiles);
    app->showMessages = true;

    // The second start hands over a book that does not exist and ends as soon as the reader
    // has answered, while the reader's message about the book is still up.
    const QString missing = testsupport::scratchDir() + "/no-such-book.chm";
    std::atomic<bool> gone = false;
    std::thread second([&] {
        SingleInstance(key).sendToRunning({missing});
        gone = true;
    });
    // The user reads the message a while (the second start's end reaches the reader meanwhile)
    // and closes it.
    QString shown;
    QElapsedTimer sinceGone;
    QElapsedTimer sinceStart;
    sinceStart.start();
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !shown.isEmpty())
            return;
        if (gone && !sinceGone.isValid())
            sinceGone.start();
        const bool read = sinceGone.isValid() && sinceGone.elapsed() > 300;
        if (read || sinceStart.elapsed() > webtest::kLoadTimeoutMs) {
            shown = box->text();
            box->done(QMessageBox::Ok);
        }
    });
    closer.start(10);
    EXPECT_TRUE(webtest::waitUntil([&] { return !shown.isEmpty(); }));
    second.join();
    // Back in the reader's own loop, which goes on serving the windows.
    webtest::waitUntil([] { return false; }, 300);
    EXPECT_TRUE(shown.contains("no-such-book.chm")) << shown.toStdString();
    ASSERT_EQ(app->windows().size(), 2);
    for (CHMDocumentWindow* window : app->windows()) {
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->tabCount(), 1);
    }
    CHMDocumentWindow* first = app->windows().at(0);
    EXPECT_TRUE(webtest::waitUntil(
        [first] { return first->curWebView() && !bodyText(currentPage(first)).isEmpty(); }));
}

TEST_F(Application, WebLinkGoesToXdgOpenAndTheUserHearsWhenNoBrowserTakesIt) {
    // A desktop's xdg-open that notes the link and answers as the file "code" says.
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString noted = bin.filePath("noted.txt");
    const QString code = bin.filePath("code");
    QFile script(bin.filePath("xdg-open"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\n"
                                "echo 'xdg-open: no method available for opening' >&2\n"
                                "exit $(cat '%2')\n")
                     .arg(noted, code)
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto answer = [&code](const char* value) {
        QFile file(code);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(value) > 0;
    };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
    auto restorePath = qScopeGuard([&path] { qputenv("PATH", path); });

    CHMDocumentWindow* window = app->openFile(testsupport::fixturePath("nested"));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(webtest::waitUntil(
        [window] { return window->curWebView() && !bodyText(currentPage(window)).isEmpty(); }));
    CHMWebView* view = window->curWebView();
    const QPoint link =
        webtest::addElement(view->page(), "a", "web", "e.href='http://example.com/'");
    auto notedLines = [&noted] {
        QFile file(noted);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                   : QStringList();
    };

    // A browser takes it: nothing to say.
    ASSERT_TRUE(answer("0"));
    webtest::clickInView(view, link);
    ASSERT_TRUE(webtest::waitUntil([&] { return notedLines().size() == 1; }));
    EXPECT_EQ(notedLines().value(0), "http://example.com/");
    webtest::waitUntil([] { return false; }, 300);
    EXPECT_TRUE(app->errors.isEmpty()) << app->errors.join(' ').toStdString();
    EXPECT_EQ(window->findChild<QMessageBox*>("noHandlerMessage"), nullptr);

    // None does (xdg-open's own words go to standard error): the user is told, as Help tells.
    ASSERT_TRUE(answer("3"));
    webtest::clickInView(view, webtest::elementCenter(view->page(), "#web"));
    ASSERT_TRUE(webtest::waitUntil([&] { return !app->errors.isEmpty(); }));
    EXPECT_EQ(notedLines().size(), 2);
    EXPECT_TRUE(app->errors[0].contains("web browser")) << app->errors[0].toStdString();
    EXPECT_TRUE(app->errors[0].contains("http://example.com/")) << app->errors[0].toStdString();
    EXPECT_EQ(view->url(), QUrl("itss://chm/index.htm"));
}

TEST_F(Application, HandOversWhileAMessageIsOpenJoinThatMessageInsteadOfNestingOthers) {
    app->showMessages = true;
    // Later starts hand over missing books while the message about the first one is up.
    constexpr int kHandOvers = 40;
    for (int i = 0; i < kHandOvers; ++i) {
        const QString missing =
            testsupport::scratchDir() + QStringLiteral("/missing-%1.chm").arg(i);
        QMetaObject::invokeMethod(
            app.get(), [this, missing] { app->openHandedOverFiles({missing}); },
            Qt::QueuedConnection);
    }
    auto openMessages = [] {
        QList<QMessageBox*> boxes;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                boxes << box;
        }
        return boxes;
    };
    qsizetype mostOpen = 0;
    int ticksSinceAllCame = 0;
    QString shown;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        const QList<QMessageBox*> boxes = openMessages();
        mostOpen = std::max(mostOpen, boxes.size());
        if (app->errors.size() < kHandOvers || boxes.isEmpty())
            return;
        // The user reads the message once every hand-over has come, and closes it.
        if (++ticksSinceAllCame < 3)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->done(QMessageBox::Ok);
        }
    });
    user.start(10);
    EXPECT_TRUE(webtest::waitUntil(
        [&] { return app->errors.size() == kHandOvers && openMessages().isEmpty(); }));
    user.stop();
    EXPECT_EQ(mostOpen, 1);
    EXPECT_TRUE(shown.contains("missing-0.chm")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("missing-4.chm")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("35 more")) << shown.toStdString();
    EXPECT_TRUE(app->windows().isEmpty());
}

TEST_F(Application, HelpWithNoProgramForPDFFilesSaysSoInsteadOfDoingNothing) {
    // The folder the build prepared, whatever an earlier test left in the variable.
    qputenv("LUMENO_RESOURCES", QFile::encodeName(testsupport::resourcesPath()));
    const QString manual = ResourceLocator::resourcePath(app->userManualResourceName());
    ASSERT_FALSE(manual.isEmpty()) << "the build stages the user manual";
    // The desktop's xdg-open finds no program for PDF files: it starts, then fails.
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString noted = bin.filePath("noted.txt");
    QFile script(bin.filePath("xdg-open"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\n"
                                "echo 'xdg-open: no method available for opening' >&2\n"
                                "exit 3\n")
                     .arg(noted)
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
    auto restorePath = qScopeGuard([&path] { qputenv("PATH", path); });

    app->UserManualHelpAction(nullptr);
    EXPECT_TRUE(webtest::waitUntil([&] { return !app->errors.isEmpty(); }, 10000));
    ASSERT_EQ(app->errors.size(), 1);
    EXPECT_TRUE(app->errors[0].startsWith("No program on this computer opens the user manual"))
        << app->errors[0].toStdString();
    QFile calls(noted);
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(calls.readAll()).trimmed(), manual);
}
