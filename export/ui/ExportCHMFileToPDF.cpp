#include "ExportCHMFileToPDF.h"

#include "CHMDocument.h"
#include "CHMExportSession.h"
#include "ExportWebProfile.h"
#include "VNTUtil.h"

#include <QEventLoop>
#include <QUrl>

bool exportToPDFWithConversionSettings(CHMDocument& document, QWebEngineProfile* profile,
                                       const QString& outputPath,
                                       const CHMToPDFConversionOptions* options, QString* error,
                                       int pageTimeLimitMs) {
    if (options && !options->textEncodingName.isEmpty())
        document.setEncodingName(options->textEncodingName);
    CHMExportSession session(document, profile, outputPath, options);
    if (pageTimeLimitMs > 0)
        session.setPageTimeLimit(pageTimeLimitMs);
    bool written = false;
    QString message;
    QEventLoop loop;
    QObject::connect(&session, &CHMExportSession::finished, [&](bool ok, const QString& why) {
        written = ok;
        message = why;
        loop.quit();
    });
    session.start();
    loop.exec();
    if (error)
        *error = written ? QString() : (message.isEmpty() ? QObject::tr("Cancelled.") : message);
    return written;
}

bool ExportCHMFileToPDF(const CHMToPDFConversionOptions* options, QString* outputPath,
                        QString* error) {
    if (!options)
        return false;
    QString openError;
    std::unique_ptr<CHMDocument> document = CHMDocument::open(options->inputURL, &openError);
    if (!document) {
        if (error)
            *error = openError;
        return false;
    }
    const QUrl output = GetUniqueURLForFileInFolder(QUrl::fromLocalFile(options->outputFolderURL),
                                                    QUrl::fromLocalFile(options->inputURL),
                                                    QStringLiteral("pdf"), false);
    if (!output.isValid()) {
        if (error)
            *error =
                QObject::tr("The folder %1 cannot take the PDF.").arg(options->outputFolderURL);
        return false;
    }
    bool written = false;
    {
        ExportWebProfile profile(document.get());
        written = exportToPDFWithConversionSettings(*document, profile.profile(),
                                                    output.toLocalFile(), options, error);
    }
    if (written && outputPath)
        *outputPath = output.toLocalFile();
    return written;
}
