// The baseline of the start-up benchmark: the least a Qt WebEngine program does to show one
// page (a view, HTML from memory). Prints "first page loaded after N ms" (since main() began)
// when the page has loaded, then quits, as lumeno does with LUMENO_EXIT_AFTER_FIRST_LOAD=1.
// With the argument --stay it keeps showing the page instead, for a benchmark that watches the
// window being painted.
#include <QApplication>
#include <QElapsedTimer>
#include <QWebEngineView>
#include <cstdio>

int main(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    const bool stay = QApplication::arguments().contains(QStringLiteral("--stay"));
    QWebEngineView view;
    QObject::connect(&view, &QWebEngineView::loadFinished, &app, [&](bool ok) {
        std::printf("first page loaded after %lld ms\n",
                    static_cast<long long>(sinceStart.elapsed()));
        std::fflush(stdout);
        if (!stay)
            QApplication::exit(ok ? 0 : 1);
    });
    view.resize(1100, 760);
    view.setHtml(
        QStringLiteral("<html><head><title>Baseline</title></head>"
                       "<body><h1>Baseline</h1><p>One page from memory.</p></body></html>"));
    view.show();
    return app.exec();
}
