// The export's benchmark program, run by run-export-bench.py:
//   exportBench floor FILE        every page of the export's page list loaded and printed by the
//                                 web engine's printToPdf, nothing else (the floor)
//   exportBench export FILE DIR   the whole export of FILE into DIR
// Each prints one line "pages=N outputPages=M ms=T" (wall time of the page work, after start-up;
// M is the written PDF's page count as its page tree states it, and 0 for the floor).
#include "CHMDocument.h"
#include "CHMExporter.h"
#include "CHMTableOfContent.h"
#include "ExportCHMFileToPDF.h"
#include "ExportWebProfile.h"
#include "ITSSSchemeHandler.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QTextStream>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <qpdf/QPDF.hh>

namespace {

int runFloor(CHMDocument& document, ExportWebProfile& profile) {
    const auto toc = document.tocSource();
    const CHMExporter exporter(document, QString(),
                               toc ? toc->pageList() : std::vector<LinkItemPtr>(), nullptr);
    const ExportPageSettings& settings = exporter.pageSettings();
    const QPageLayout layout(QPageSize(QSizeF(settings.paperWidth, settings.paperHeight),
                                       QPageSize::Point, QString(), QPageSize::ExactMatch),
                             QPageLayout::Portrait,
                             QMarginsF(settings.leftMargin, settings.topMargin,
                                       settings.rightMargin, settings.bottomMargin),
                             QPageLayout::Point);
    // One view and one page for all: the least the engine needs to print every page.
    QWebEngineView view;
    view.setAttribute(Qt::WA_DontShowOnScreen);
    QWebEnginePage page(profile.profile()); // declared after the view: it goes first
    view.setPage(&page);
    view.resize(qRound(settings.printableWidth() * 96 / 72),
                qRound(settings.printableHeight() * 96 / 72));
    view.show();
    QElapsedTimer clock;
    clock.start();
    qint64 bytes = 0;
    for (std::size_t i = 0; i < exporter.pageList().size(); ++i) {
        QEventLoop loop;
        const QMetaObject::Connection loaded =
            QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool) {
                page.printToPdf(
                    [&](const QByteArray& pdf) {
                        bytes += pdf.size();
                        loop.quit();
                    },
                    layout);
            });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        page.load(CHMDocument::composeURL(exporter.pageList().at(i).path()));
        loop.exec();
        QObject::disconnect(loaded);
    }
    QTextStream(stdout) << "pages=" << exporter.pageList().size()
                        << " outputPages=0 ms=" << clock.elapsed() << " bytes=" << bytes
                        << Qt::endl;
    return 0;
}

int runExport(CHMDocument& document, ExportWebProfile& profile, const QString& folder) {
    const QString output =
        QDir(folder).filePath(QFileInfo(document.filePath()).completeBaseName() + ".pdf");
    QFile::remove(output);
    const auto toc = document.tocSource();
    const std::size_t pages =
        CHMExporter(document, QString(), toc ? toc->pageList() : std::vector<LinkItemPtr>(),
                    nullptr)
            .pageList()
            .size();
    QElapsedTimer clock;
    clock.start();
    QString error;
    CHMToPDFConversionOptions options;
    const bool written =
        exportToPDFWithConversionSettings(document, profile.profile(), output, &options, &error);
    const qint64 ms = clock.elapsed();
    if (!written) {
        QTextStream(stderr) << error << Qt::endl;
        return 1;
    }
    // The page tree's count, read alone: loading every page would cost this process more than
    // the export did, and its peak memory is measured.
    int outputPages = -1;
    try {
        QPDF written;
        written.setSuppressWarnings(true);
        written.processFile(QFile::encodeName(output).constData());
        outputPages = written.getRoot().getKey("/Pages").getKey("/Count").getIntValueAsInt();
    } catch (const std::exception&) {
    }
    QTextStream(stdout) << "pages=" << pages << " outputPages=" << outputPages << " ms=" << ms
                        << " bytes=" << QFileInfo(output).size() << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    ITSSSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || (args[1] != "floor" && args[1] != "export") ||
        (args[1] == "export" && args.size() < 4)) {
        QTextStream(stderr) << "usage: exportBench floor FILE | exportBench export FILE DIR"
                            << Qt::endl;
        return 2;
    }
    QString error;
    std::unique_ptr<CHMDocument> document = CHMDocument::open(args[2], &error);
    if (!document) {
        QTextStream(stderr) << error << Qt::endl;
        return 1;
    }
    int status = 0;
    {
        ExportWebProfile profile(document.get());
        status = args[1] == "floor" ? runFloor(*document, profile)
                                    : runExport(*document, profile, args[3]);
    }
    return status;
}
