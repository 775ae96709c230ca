// Exports with explicit settings, waiting for the end: for tools and callers without a window.
//
// Both run the export's pages on the calling thread, which must be the GUI thread of a
// QApplication whose "itss" scheme was registered before it was made; they wait in a local
// event loop, so the GUI thread keeps serving the pages meanwhile, and that loop is left on
// every way out of the export.
#pragma once

#include "CHMToPDFConversionOptions.h"

#include <QString>

class CHMDocument;
class QWebEngineProfile;

// Exports the open document to outputPath on the given profile. True when the PDF was written.
bool exportToPDFWithConversionSettings(CHMDocument& document, QWebEngineProfile* profile,
                                       const QString& outputPath,
                                       const CHMToPDFConversionOptions* options,
                                       QString* error = nullptr, int pageTimeLimitMs = 0);

// Opens options->inputURL and exports it into options->outputFolderURL under the book's name
// (numbered when that name is taken). True only when the PDF was written; `outputPath` then
// holds its path, else `error` says why.
bool ExportCHMFileToPDF(const CHMToPDFConversionOptions* options, QString* outputPath = nullptr,
                        QString* error = nullptr);
