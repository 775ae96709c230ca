// What a page of a .chm can reach: outside links only through a user's click and the system's
// handler, never inside the view; no scripted way out; no local files; no other open book; the
// log only through console.log.
#include "WindowTestFixture.h"

#include <QDesktopServices>
#include <QMessageBox>

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

// Asks for the page, the image and the style sheet every way a page can and answers what each
// reported once the awaited ones have: "xhr", "fetch" and "frame" the text read, "img" "loaded",
// "css" the body's colour after the sheet; or "error ...".
QVariantMap probe(QWebEnginePage* page, const QString& html, const QString& image,
                  const QString& css, const QString& awaited = "xhr fetch img css frame") {
    runJavaScript(page, QStringLiteral(R"(
        window.probe = {};
        function report(key, value) { probe[key] = String(value); }
        var xhr = new XMLHttpRequest();
        xhr.onload = function() { report('xhr', xhr.responseText || 'empty'); };
        xhr.onerror = function() { report('xhr', 'error'); };
        try { xhr.open('GET', '%1'); xhr.send(); } catch (e) { report('xhr', 'error ' + e); }
        fetch('%1').then(function(r) { return r.text(); }).then(
            function(t) { report('fetch', t || 'empty'); },
            function(e) { report('fetch', 'error ' + e); });
        var img = new Image();
        img.onload = function() { report('img', 'loaded'); };
        img.onerror = function() { report('img', 'error'); };
        img.src = '%2';
        var link = document.createElement('link');
        link.rel = 'stylesheet';
        link.onload = function() { report('css', getComputedStyle(document.body).color); };
        link.onerror = function() { report('css', 'error'); };
        link.href = '%3';
        document.head.appendChild(link);
        var frame = document.createElement('iframe');
        frame.id = 'probe-frame';
        frame.onload = function() {
            var d = frame.contentDocument;
            report('frame', d && d.body ? d.body.innerText : 'unreadable');
        };
        frame.src = '%1';
        document.body.appendChild(frame);)")
                            .arg(html, image, css));
    const QString done =
        QStringLiteral("'%1'.split(' ').every(k => k in probe) ? 1 : 0").arg(awaited);
    EXPECT_EQ(webtest::waitForJavaScript(page, done).toInt(), 1) << "the probes did not report";
    return runJavaScript(page, "probe").toMap();
}

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
    const QByteArray png = testsupport::readWholeFile(QStringLiteral(LUMENO_TEST_PNG));
    ASSERT_FALSE(png.isEmpty());
    auto url = [](const QString& path) { return QUrl::fromLocalFile(path).toString(); };
    QWebEnginePage* page = currentPage(window);
    webtest::LogCapture log;
    // A refused frame navigation sends no event to the page: the log says when it was decided.
    const QVariantMap seen =
        probe(page, url(testsupport::writeScratchFile("secret.txt", "local-secret-7f3a")),
              url(testsupport::writeScratchFile("picture.png", png)),
              url(testsupport::writeScratchFile("style.css", "body { color: rgb(1, 2, 3) }")),
              "xhr fetch img css");
    for (const char* key : {"xhr", "fetch", "img", "css"})
        EXPECT_TRUE(seen.value(key).toString().startsWith("error")) << key;
    ASSERT_TRUE(webtest::waitUntil([&] { return log.contains("navigation to file:"); }));
    const QString frameText =
        runJavaScript(page, "(function() {"
                            "var d = document.getElementById('probe-frame')"
                            ".contentDocument;"
                            "return d && d.body ? d.body.innerText : ''; })()")
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

    // Each move ends as a failed load, each window request is dropped.
    auto refused = [&](const std::function<void()>& move) {
        const int before = loads.finished();
        move();
        ASSERT_TRUE(webtest::waitUntil([&] { return loads.finished() > before; }));
        EXPECT_FALSE(loads.lastOk());
    };
    // A page gets a click easily: any click on it may start the page's own move.
    const QPoint pad = webtest::addElement(page, "div", "pad",
                                           "document.addEventListener('click',function(ev){"
                                           "ev.preventDefault();location.href=window.nextMove;});");
    for (const QString target : {"mailto:someone@example.com", "ms-its:other.chm::/page.htm",
                                 "file:///etc/hostname", "lumeno-custom:payload"}) {
        SCOPED_TRACE(target.toStdString());
        refused([&] { runJavaScript(page, QStringLiteral("location.href = '%1'").arg(target)); });
        runJavaScript(page, QStringLiteral("window.open('%1')").arg(target));
        ASSERT_TRUE(webtest::waitUntil([&] { return log.contains("new window to " + target); }));
        if (target.startsWith("mailto:"))
            continue; // after a click, for the system's mail program
        runJavaScript(page, QStringLiteral("window.nextMove = '%1'").arg(target));
        refused([&] { webtest::clickInView(view, pad); });
    }
    // A javascript: URL runs in the page itself.
    QSignalSpy messages(window, &CHMDocumentWindow::consoleMessage);
    runJavaScript(page, "location.href = \"javascript:console.log('ran in place')\"");
    ASSERT_TRUE(webtest::waitUntil([&] { return messages.size() == 1; }));
    EXPECT_EQ(messages.at(0).at(0).toString(), "ran in place");
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
    // In its own book the probe reaches everything, so it would see a leak.
    QVariantMap seen = probe(currentPage(vaultWindow), "itss://chm/secret.htm",
                             "itss://chm/secret.png", "itss://chm/secret.css");
    EXPECT_TRUE(seen.value("xhr").toString().contains("vault-secret-5d81"));
    EXPECT_TRUE(seen.value("frame").toString().contains("vault-secret-5d81"));
    EXPECT_EQ(seen.value("img"), "loaded");
    EXPECT_EQ(seen.value("css"), "rgb(1, 2, 3)");
    // In the other book the same URLs reach that book alone, which lacks them.
    QWebEnginePage* readerPage = currentPage(readerWindow);
    seen = probe(readerPage, "itss://chm/secret.htm", "itss://chm/secret.png",
                 "itss://chm/secret.css");
    for (const QVariant& value : seen)
        EXPECT_FALSE(value.toString().contains("vault-secret")) << value.toString().toStdString();
    EXPECT_TRUE(seen.value("xhr").toString().contains("no page at"));
    EXPECT_TRUE(seen.value("frame").toString().contains("no page at"));
    EXPECT_EQ(seen.value("img"), "error");
    EXPECT_NE(seen.value("css"), "rgb(1, 2, 3)");
    EXPECT_FALSE(bodyText(readerPage).contains("vault-secret"));
}

#include "PageSecurityTest.moc"
