// Prints every page of a book's export page list through the web engine, as the export does,
// and stores what the export's headless tests replay: NN.pdf (the print), NN.walk.json (the DOM
// walk's answer) and pages.txt (the page list, one path a line). Run by
// tests/export/data/make-printed-pages.sh; not part of the test run.
#include "CHMDocument.h"
#include "CHMExporter.h"
#include "CHMTableOfContent.h"
#include "ExportPagePrinter.h"
#include "ExportWebProfile.h"
#include "ITSSSchemeHandler.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTextStream>

int main(int argc, char** argv) {
    ITSSSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 3) {
        err << "usage: print-fixture-pages BOOK.chm OUTFOLDER" << Qt::endl;
        return 1;
    }
    QString error;
    std::unique_ptr<CHMDocument> document = CHMDocument::open(args[1], &error);
    if (!document) {
        err << error << Qt::endl;
        return 1;
    }
    QDir out(args[2]);
    out.mkpath(QStringLiteral("."));
    int status = 0;
    {
        ExportWebProfile profile(document.get());
        const auto toc = document->tocSource();
        CHMExporter exporter(*document, out.filePath(QStringLiteral("unused.pdf")),
                             toc ? toc->pageList() : std::vector<LinkItemPtr>(), nullptr);
        ExportPagePrinter printer(profile.profile(), exporter.pageSettings());
        QFile list(out.filePath(QStringLiteral("pages.txt")));
        list.open(QIODevice::WriteOnly | QIODevice::Truncate);
        for (std::size_t i = 0; i < exporter.pageList().size(); ++i) {
            const QString path = exporter.pageList().at(i).path();
            list.write(path.toUtf8() + '\n');
            ExportPagePrinter::Result printed;
            QEventLoop loop;
            printer.print(CHMDocument::composeURL(path),
                          [&](const ExportPagePrinter::Result& result) {
                              printed = result;
                              loop.quit();
                          });
            loop.exec();
            const QString stem = QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
            if (!printed.printed) {
                err << path << ": " << printed.failure << Qt::endl;
                status = 1;
                continue;
            }
            QFile pdf(out.filePath(stem + QStringLiteral(".pdf")));
            pdf.open(QIODevice::WriteOnly | QIODevice::Truncate);
            pdf.write(printed.pdf);
            QFile walk(out.filePath(stem + QStringLiteral(".walk.json")));
            walk.open(QIODevice::WriteOnly | QIODevice::Truncate);
            walk.write(QJsonDocument::fromVariant(printed.walk).toJson(QJsonDocument::Compact));
        }
    }
    return status;
}
