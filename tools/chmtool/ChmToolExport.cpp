#include "ChmToolExport.h"

#include "ExportCHMFileToPDF.h"
#include "ITSSSchemeHandler.h"
#include "LumenoLogging.h"

#include <QApplication>
#include <QFileInfo>
#include <QTextStream>

namespace {

// Progress lines "N/M title" on standard output, one per page of the page list; counts the
// pages left out.
class LineProgress : public ExportProgressTarget {
public:
    bool isConversionCancelled() const override { return false; }
    void exportProgress(double, int, const QString&) override {}
    void exportPageStarted(int index, int total, const QString& name) override {
        QTextStream(stdout) << (index + 1) << '/' << total << ' ' << name << Qt::endl;
        m_total = total;
    }
    void exportPageLeftOut(const QString&, bool unreadable) override {
        ++m_leftOut;
        if (unreadable)
            ++m_unreadable;
    }
    int total() const { return m_total; }
    int leftOut() const { return m_leftOut; }
    int unreadable() const { return m_unreadable; }

private:
    int m_total = 0;
    int m_leftOut = 0;
    int m_unreadable = 0;
};

} // namespace

int runExportCommand(int argc, char** argv) {
    // The scheme must be known to the web engine before the application exists.
    ITSSSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    // Standard error is for what the user must act on: the engine's notes at each start and the
    // pages' own script errors go to the log categories, off unless QT_LOGGING_RULES asks.
    keepStandardErrorForTheUser();
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 4) {
        err << "usage: chmtool export FILE OUTFOLDER" << Qt::endl;
        return 2;
    }
    if (!QFileInfo(args[3]).isDir()) {
        err << "chmtool: " << args[3] << ": not a folder" << Qt::endl;
        return 1;
    }
    LineProgress progress;
    CHMToPDFConversionOptions options;
    options.inputURL = QFileInfo(args[2]).absoluteFilePath();
    options.outputFolderURL = QFileInfo(args[3]).absoluteFilePath();
    options.progressCallback.progressTarget = &progress;
    QString output, error;
    const bool written = ExportCHMFileToPDF(&options, &output, &error);
    if (progress.leftOut() > 0) {
        err << "chmtool: " << args[2] << ": " << progress.leftOut() << " of " << progress.total()
            << " pages left out";
        if (progress.unreadable() > 0)
            err << ", " << progress.unreadable() << " of them because the book is damaged";
        err << Qt::endl;
    }
    if (!written) {
        err << "chmtool: " << args[2] << ": " << error << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << "written " << output << Qt::endl;
    // The PDF holds the rest, but not the book: a script must not take it for the whole.
    return progress.unreadable() > 0 ? 1 : 0;
}
