// What a page of a .chm can reach: outside links only through a user's click and the system's
// handler, never inside the view; no scripted way out; no local files; no other open book; the
// log only through console.log.
#include "CHMDocument.h"
#include "TestSupport.h"
#include "WindowTestFixture.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QWebEnginePage>

using webtest::runJavaScript;

namespace {

const char* const kOutsideSchemes[] = {"http",   "https",      "mailto",       "file",
                                       "ms-its", "javascript", "lumeno-custom"};

// Takes the place of the system's browser, mail program and other handlers while a test runs.
class ExternalOpener : public QObject {
    Q_OBJECT
public:
    ExternalOpener() {
        for (const char* scheme : kOutsideSchemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~ExternalOpener() override {
        for (const char* scheme : kOutsideSchemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class PageSecurity : public NestedWindow {};

TEST_F(PageSecurity, ClickedWebLinkGoesToTheSystemAndNotIntoTheViewOrSaysNoProgramTakesIt) {
    ExternalOpener opener;
    CHMWebView* view = window->curWebView();
    webtest::addElement(view->page(), "a", "mail", "e.href='mailto:someone@example.com'");
    const QPoint web =
        webtest::addElement(view->page(), "a", "web", "e.href='http://example.com/'");

    webtest::clickInView(view, web);
    ASSERT_TRUE(webtest::waitUntil([&] { return opener.opened.size() == 1; }));
    EXPECT_EQ(opener.opened.value(0), QUrl("http://example.com/"));
    webtest::clickInView(view, webtest::elementCenter(view->page(), "#mail"));
    ASSERT_TRUE(webtest::waitUntil([&] { return opener.opened.size() == 2; }));
    EXPECT_EQ(opener.opened.value(1), QUrl("mailto:someone@example.com"));

    window->setExternalUrlOpener([](const QUrl&) { return false; });
    webtest::clickInView(view, webtest::elementCenter(view->page(), "#web"));
    QMessageBox* box = nullptr;
    ASSERT_TRUE(webtest::waitUntil([&] {
        box = window->findChild<QMessageBox*>("noHandlerMessage");
        return box && box->isVisible();
    }));
    EXPECT_TRUE(box->text().contains("http://example.com/")) << box->text().toStdString();
    box->close();
    EXPECT_EQ(view->url(), QUrl("itss://chm/index.htm"));
    EXPECT_EQ(window->tabCount(), 1);
}

TEST_F(PageSecurity, WindowOpenNeedsAClickAndOneClickOpensOneTab) {
    CHMWebView* view = window->curWebView();
    webtest::LoadWatcher loads(window);
    webtest::LogCapture log;
    // A click whose handler tries a flood opens one tab.
    webtest::clickInView(view, webtest::addElement(view->page(), "div", "pad",
                                                   "e.onclick=function(){for (var i = 0; i < 50; "
                                                   "++i) window.open('chapter2/summary.htm');};"));
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(window->tabCount(), 2);
    EXPECT_EQ(currentPath(window), "/chapter2/summary.htm");

    // Without a gesture nothing opens (each would be a tab with a renderer of its own).
    runJavaScript(view->page(), "for (var i = 0; i < 200; ++i) window.open('intro.htm?' + i);");
    ASSERT_TRUE(
        webtest::waitUntil([&] { return log.contains("new window to itss://chm/intro.htm?199"); }));
    EXPECT_TRUE(log.contains("new window to itss://chm/chapter2/summary.htm"));
    EXPECT_EQ(window->tabCount(), 2);
}

TEST_F(PageSecurity, LocalFilesAreOutOfReach) {
    ExternalOpener opener;
    const QString secret = testsupport::writeScratchFile("secret.txt", "local-secret-7f3a");
    const QByteArray png = testsupport::readWholeFile(QStringLiteral(LUMENO_TEST_PNG));
    ASSERT_FALSE(png.isEmpty());
    const QString image = testsupport::writeScratchFile("picture.png", png);
    QWebEnginePage* page = currentPage(window);
    const QString secretUrl = QUrl::fromLocalFile(secret).toString();
    const QString imageUrl = QUrl::fromLocalFile(image).toString();

    webtest::LogCapture log;
    runJavaScript(page, QStringLiteral(R"(
        window.probe = {};
        var img = new Image();
        img.onload = function() { probe.img = 'loaded'; };
        img.onerror = function() { probe.img = 'blocked'; };
        img.src = '%2';
        var xhr = new XMLHttpRequest();
        xhr.onload = function() { probe.xhr = xhr.responseText || 'empty'; };
        xhr.onerror = function() { probe.xhr = 'blocked'; };
        try { xhr.open('GET', '%1'); xhr.send(); } catch (e) { probe.xhr = 'blocked'; }
        var frame = document.createElement('iframe');
        frame.id = 'local-frame';
        frame.src = '%1';
        document.body.appendChild(frame);
    )")
                            .arg(secretUrl, imageUrl));
    const QVariant done = webtest::waitForJavaScript(page, "probe.img && probe.xhr ? 1 : 0");
    ASSERT_EQ(done.toInt(), 1) << "the probes did not report";
    EXPECT_EQ(runJavaScript(page, "probe.img"), "blocked");
    EXPECT_EQ(runJavaScript(page, "probe.xhr"), "blocked");
    // A refused frame navigation sends no event to the page: the log says when it was decided.
    ASSERT_TRUE(webtest::waitUntil([&] { return log.contains("navigation to file:"); }));
    const QString frameText = runJavaScript(page, R"(
        (function() {
            var d = document.getElementById('local-frame').contentDocument;
            return d && d.body ? d.body.innerText : '';
        })())")
                                  .toString();
    EXPECT_FALSE(frameText.contains("local-secret")) << frameText.toStdString();
    EXPECT_FALSE(bodyText(page).contains("local-secret"));
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(PageSecurity, OnlyConsoleLogAndTheReadersOwnFailingScriptsReachTheLog) {
    QSignalSpy messages(window, &CHMDocumentWindow::consoleMessage);
    runJavaScript(currentPage(window), "console.log('first line');"
                                       "console.error('an error');"
                                       "console.warn('a warning');"
                                       "console.info('some info');"
                                       "console.debug('a debug line');"
                                       "console.info = console.log; console.info('info again');"
                                       "console.log('second line');");
    ASSERT_TRUE(webtest::waitUntil([&] { return messages.size() >= 2; }));
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages.at(0).at(0).toString(), "first line");
    EXPECT_EQ(messages.at(1).at(0).toString(), "second line");
    window->runJavascript("undefinedFunctionOfTheReader()");
    ASSERT_TRUE(webtest::waitUntil([&] { return messages.size() >= 3; }));
    EXPECT_TRUE(messages.at(2).at(0).toString().contains("undefinedFunctionOfTheReader"));
}

TEST_F(PageSecurity, ScriptsCannotLeaveTheBookOrOpenOutsideWindowsEvenAfterAClick) {
    ExternalOpener opener;
    CHMWebView* view = window->curWebView();
    QWebEnginePage* page = view->page();
    webtest::LoadWatcher loads(window);
    webtest::LogCapture log;
    // Navigations of one frame are decided in order: once intro.htm has loaded, the moves
    // before it have been decided too (as failed loads).
    runJavaScript(page, "window.open('https://example.net/popup');"
                        "document.querySelector('a').href='http://example.org/';"
                        "document.querySelector('a').click();"
                        "location.href='http://example.org/moved';");
    runJavaScript(page, "location.href='intro.htm'");
    ASSERT_TRUE(webtest::waitUntil([&] { return loads.lastOk(); }));
    EXPECT_EQ(view->url(), QUrl("itss://chm/intro.htm"));

    const QStringList targets = {"mailto:someone@example.com", "ms-its:other.chm::/page.htm",
                                 "file:///etc/hostname", "lumeno-custom:payload"};
    // Without a click: each move ends as a failed load, each window request is dropped.
    for (const QString& target : targets) {
        const int before = loads.finished();
        runJavaScript(page, QStringLiteral("location.href = '%1'").arg(target));
        ASSERT_TRUE(webtest::waitUntil([&] { return loads.finished() > before; }))
            << target.toStdString();
        EXPECT_FALSE(loads.lastOk()) << target.toStdString();
        runJavaScript(page, QStringLiteral("window.open('%1')").arg(target));
        ASSERT_TRUE(webtest::waitUntil([&] { return log.contains("new window to " + target); }))
            << target.toStdString();
    }
    // A javascript: URL runs in the page itself.
    QSignalSpy messages(window, &CHMDocumentWindow::consoleMessage);
    runJavaScript(page, "location.href = \"javascript:console.log('ran in place')\"");
    ASSERT_TRUE(webtest::waitUntil([&] { return messages.size() == 1; }));
    EXPECT_EQ(messages.at(0).at(0).toString(), "ran in place");

    // A page gets a click easily: any click on it may start the page's own move.
    const QPoint pad = webtest::addElement(page, "div", "pad",
                                           "document.addEventListener('click',function(ev){"
                                           "ev.preventDefault();location.href=window.nextMove;});");
    for (const QString& target : targets.mid(1)) {
        const int before = loads.finished();
        runJavaScript(page, QStringLiteral("window.nextMove = '%1'").arg(target));
        webtest::clickInView(view, pad);
        ASSERT_TRUE(webtest::waitUntil([&] { return loads.finished() > before; }))
            << target.toStdString();
        EXPECT_FALSE(loads.lastOk()) << target.toStdString();
    }
    EXPECT_TRUE(opener.opened.isEmpty()) << opener.opened.value(0).toString().toStdString();
    EXPECT_EQ(window->tabCount(), 1);
    EXPECT_EQ(view->url(), QUrl("itss://chm/intro.htm"));
}

TEST_F(PageSecurity, PagesOfOneBookCannotReachAnotherOpenBook) {
    const QByteArray png = testsupport::readWholeFile(QStringLiteral(LUMENO_TEST_PNG));
    ASSERT_FALSE(png.isEmpty());
    const QString vault =
        writeCraftedBook("vault.chm", "Vault",
                         {{"/index.htm", "<html><body><p>vault home</p></body></html>"},
                          {"/secret.htm", "<html><body><p>vault-secret-5d81</p></body></html>"},
                          {"/secret.png", png},
                          {"/secret.css", "body { color: rgb(1, 2, 3) }"}});
    const QString reader = writeCraftedBook(
        "reader.chm", "Reader", {{"/index.htm", "<html><body><p>reader home</p></body></html>"}});
    CHMDocumentWindow* vaultWindow = openWindow(vault);
    CHMDocumentWindow* readerWindow = openWindow(reader);
    ASSERT_NE(vaultWindow, nullptr);
    ASSERT_NE(readerWindow, nullptr);
    // Every way a page can ask for an object of the same URL.
    const QString probe = R"(
        window.probe = {};
        function report(key, value) { probe[key] = String(value); }
        var xhr = new XMLHttpRequest();
        xhr.onload = function() { report('xhr', xhr.responseText || 'empty'); };
        xhr.onerror = function() { report('xhr', 'error'); };
        try { xhr.open('GET', 'itss://chm/secret.htm'); xhr.send(); }
        catch (e) { report('xhr', 'error ' + e); }
        try {
            fetch('itss://chm/secret.htm').then(function(r) { return r.text(); })
                .then(function(t) { report('fetch', t || 'empty'); },
                      function(e) { report('fetch', 'error ' + e); });
        } catch (e) { report('fetch', 'error ' + e); }
        var img = new Image();
        img.onload = function() { report('img', 'loaded'); };
        img.onerror = function() { report('img', 'error'); };
        img.src = 'itss://chm/secret.png';
        var link = document.createElement('link');
        link.rel = 'stylesheet';
        link.onload = function() { report('css', getComputedStyle(document.body).color); };
        link.onerror = function() { report('css', 'error'); };
        link.href = 'itss://chm/secret.css';
        document.head.appendChild(link);
        var frame = document.createElement('iframe');
        frame.onload = function() {
            var d = frame.contentDocument;
            report('frame', d && d.body ? d.body.innerText : 'unreadable');
        };
        frame.src = 'itss://chm/secret.htm';
        document.body.appendChild(frame);
    )";
    const QString reported =
        "probe.xhr && probe.fetch && probe.img && probe.css && probe.frame ? 1 : 0";

    // In its own book the probe reaches everything, so it would see a leak.
    QWebEnginePage* vaultPage = currentPage(vaultWindow);
    runJavaScript(vaultPage, probe);
    ASSERT_EQ(webtest::waitForJavaScript(vaultPage, reported).toInt(), 1);
    EXPECT_TRUE(runJavaScript(vaultPage, "probe.xhr").toString().contains("vault-secret-5d81"));
    EXPECT_TRUE(runJavaScript(vaultPage, "probe.frame").toString().contains("vault-secret-5d81"));
    EXPECT_EQ(runJavaScript(vaultPage, "probe.img"), "loaded");
    EXPECT_EQ(runJavaScript(vaultPage, "probe.css"), "rgb(1, 2, 3)");

    // In the other book the same URLs reach that book alone, which lacks them.
    QWebEnginePage* readerPage = currentPage(readerWindow);
    runJavaScript(readerPage, probe);
    ASSERT_EQ(webtest::waitForJavaScript(readerPage, reported).toInt(), 1);
    const QString seen = runJavaScript(readerPage, "JSON.stringify(probe)").toString();
    EXPECT_FALSE(seen.contains("vault-secret")) << seen.toStdString();
    EXPECT_TRUE(runJavaScript(readerPage, "probe.xhr").toString().contains("no page at"));
    EXPECT_TRUE(runJavaScript(readerPage, "probe.frame").toString().contains("no page at"));
    EXPECT_EQ(runJavaScript(readerPage, "probe.img"), "error");
    EXPECT_NE(runJavaScript(readerPage, "probe.css"), "rgb(1, 2, 3)");
    EXPECT_FALSE(bodyText(readerPage).contains("vault-secret"));
}

#include "PageSecurityTest.moc"
