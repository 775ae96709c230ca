// Lays out an HTML document with QTextDocument onto A4 pages of a PDF file, with page numbers.
// Images and style sheets the HTML names are read relative to the HTML file. The PDF is written
// to a temporary file beside the target and renamed into place, so a failed run leaves no
// half-written manual behind. Needs a QGuiApplication (fonts).
#pragma once

#include <QString>

class ManualPdfWriter {
public:
    // False, with `error` set to one line, when the HTML cannot be read or the PDF not written.
    static bool write(const QString& htmlPath, const QString& pdfPath, QString* error);
};
