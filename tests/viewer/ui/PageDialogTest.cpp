// The dialogs of page scripts (alert, confirm, prompt): a page that calls them in a loop can be
// stopped from its second dialog on, and neither Quit nor closing the window waits for them.
#include "PageDialog.h"
#include "CHMWebPage.h"
#include "WindowTestFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QTimer>

namespace {

const QByteArray kAlertLoopPage =
    "<html><body><p>alerts</p><script>"
    "for (var i = 0; i < 1000; ++i) alert('alert ' + i + ' <b>bold</b>');"
    "console.log('after alerts ' + confirm('go on?') + ' ' + prompt('name?', 'x'));"
    "document.body.appendChild(document.createTextNode('went on'));"
    "</script></body></html>";
// Asks to be kept (beforeunload) and shows two alerts on a click.
const QByteArray kKeepMePage =
    "<html><body><p id='keep'>keep me</p><script>"
    "window.onbeforeunload = function(e) { e.preventDefault(); e.returnValue = ''; return ''; };"
    "document.getElementById('keep').onclick = function() { alert('one'); alert('two'); };"
    "</script></body></html>";
const QByteArray kEndlessAlertPage =
    "<html><body><p>endless</p><script>while (true) alert('stay');</script></body></html>";

// What the user saw of each dialog the page showed.
struct SeenDialog {
    QString text;
    bool offeredStop = false;
};

// Keys reach the active window only. True once the dialog is; a dialog that never becomes
// active is closed after a while, so that the test fails instead of waiting in it for ever.
bool makeActive(PageDialog* dialog) {
    if (QApplication::activeWindow() == dialog)
        return true;
    dialog->activateWindow();
    if (dialog->property("activationTries").toInt() > 1000)
        dialog->reject();
    dialog->setProperty("activationTries", dialog->property("activationTries").toInt() + 1);
    return false;
}

} // namespace

class PageDialogs : public WindowTestFixture {
protected:
    static QString writeDialogBook() {
        return writeCraftedBook("dialogs.chm", "Dialogs",
                                {{"/index.htm", "<html><body><p>dialogs home</p></body></html>"},
                                 {"/alerts.htm", kAlertLoopPage},
                                 {"/endless.htm", kEndlessAlertPage},
                                 {"/keep.htm", kKeepMePage}});
    }
};

TEST_F(PageDialogs, AlertLoopEndsWhenTheUserStopsThePagesDialogsAndThePageGoesOn) {
    CHMDocumentWindow* window = openWindow(writeDialogBook());
    ASSERT_NE(window, nullptr);
    QSignalSpy messages(window, &CHMDocumentWindow::consoleMessage);
    // The user answers each dialog; where the stop choice is offered, takes it.
    std::vector<SeenDialog> seen;
    int others = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        auto* dialog = qobject_cast<PageDialog*>(modal);
        if (!dialog) {
            ++others;
            modal->close();
            return;
        }
        auto* text = dialog->findChild<QLabel*>("pageDialogText");
        seen.push_back({text ? text->text() : QString(), dialog->stopBox() != nullptr});
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        if (dialog->stopBox())
            dialog->stopBox()->setChecked(true);
        dialog->accept();
    });
    user.start(10);
    webtest::LoadWatcher loads(window);
    window->loadPath("alerts.htm");
    EXPECT_TRUE(loads.waitForLoads(1));
    user.stop();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(others, 0);
    EXPECT_EQ(seen[0].text, "alert 0 <b>bold</b>");
    EXPECT_FALSE(seen[0].offeredStop);
    EXPECT_TRUE(seen[1].offeredStop);
    // The rest of the loop, the confirm and the prompt answered at once, as cancelled.
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.last().at(0).toString(), "after alerts false null");
    EXPECT_TRUE(bodyText(currentPage(window)).contains("went on"));
    // A new page may show dialogs again.
    QTimer again;
    bool shownAgain = false;
    QObject::connect(&again, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<PageDialog*>(QApplication::activeModalWidget())) {
            shownAgain = true;
            dialog->stopBox() ? dialog->stopBox()->setChecked(true) : void();
            dialog->accept();
        }
    });
    again.start(10);
    loads.reset();
    window->loadPath("alerts.htm");
    EXPECT_TRUE(loads.waitForLoads(1));
    EXPECT_TRUE(shownAgain);
}

TEST_F(PageDialogs, QuitWhileAPageAlertIsUpEndsTheApplicationsEventLoop) {
    QPointer<CHMDocumentWindow> window = openWindow(writeDialogBook());
    ASSERT_FALSE(window.isNull());
    window->loadPath("endless.htm");
    // Once the alert is up the user presses Quit: the window below is blocked, the dialog is not.
    bool quitPressed = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<PageDialog*>(QApplication::activeModalWidget());
        if (dialog && !quitPressed) {
            // The keys reach the active window.
            if (!makeActive(dialog))
                return;
            quitPressed = true;
            QTest::keyClick(dialog, Qt::Key_Q, Qt::ControlModifier);
        }
    });
    user.start(10);
    // Should the reader hang, the test ends it with another code.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        QApplication::exit(2);
    });
    watchdog.start(2 * webtest::kLoadTimeoutMs);
    const int code = QApplication::exec();
    user.stop();
    EXPECT_TRUE(quitPressed);
    EXPECT_EQ(code, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST_F(PageDialogs, ClosingTheWindowWhileAPageAlertIsUpClosesIt) {
    QPointer<CHMDocumentWindow> window = openWindow(writeDialogBook());
    ASSERT_FALSE(window.isNull());
    window->loadPath("endless.htm");
    bool closed = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<PageDialog*>(QApplication::activeModalWidget());
        if (dialog && !closed) {
            if (!makeActive(dialog))
                return;
            closed = true;
            QTest::keyClick(dialog, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
        }
    });
    user.start(10);
    EXPECT_TRUE(webtest::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }));
    EXPECT_TRUE(closed);
}

TEST_F(PageDialogs, PageWhoseDialogsWereStoppedCannotKeepTheUserOnItWhenLeaving) {
    CHMDocumentWindow* window = openWindow(writeDialogBook());
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(load(window, "keep.htm"));
    int answered = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<PageDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        ++answered;
        if (dialog->stopBox())
            dialog->stopBox()->setChecked(true);
        dialog->accept();
    });
    user.start(10);
    // The click is also what lets the page ask before it is left.
    webtest::clickInView(window->curWebView(),
                         webtest::elementCenter(currentPage(window), "#keep"));
    ASSERT_TRUE(webtest::waitUntil([&] { return answered == 2; }));
    EXPECT_TRUE(load(window, "index.htm"));
    EXPECT_EQ(currentPath(window), "/index.htm");
    EXPECT_EQ(answered, 2);
}
