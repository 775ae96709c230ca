// The settings of one export with explicit settings, filled by the caller and only read by the
// export. Lengths in points.
#pragma once

#include <QString>

// What an export with explicit settings reports to and polls from its caller. Called on the
// GUI thread, between pages.
class ExportProgressTarget {
public:
    virtual ~ExportProgressTarget() = default;
    virtual bool isConversionCancelled() const = 0;
    // rate: percent done; count: output pages so far; title: what is being done.
    virtual void exportProgress(double rate, int count, const QString& title) = 0;
    // The page list's page `index` (from 0) of `total`, named `name`, starts printing.
    virtual void exportPageStarted(int index, int total, const QString& name) {
        Q_UNUSED(index)
        Q_UNUSED(total)
        Q_UNUSED(name)
    }
    // The page at `path` is left out of the PDF; `unreadable`: the book lists it but cannot give
    // it (the book is damaged), rather than lacking it or failing to print it.
    virtual void exportPageLeftOut(const QString& path, bool unreadable) {
        Q_UNUSED(path)
        Q_UNUSED(unreadable)
    }
};

struct ProgressCallbackInfo {
    ExportProgressTarget* progressTarget = nullptr;
};

struct CHMToPDFConversionOptions {
    QString inputURL;        // the .chm file
    QString outputFolderURL; // the folder that receives the PDF
    ProgressCallbackInfo progressCallback;
    bool exportHyperlinks = true;
    bool exportTOC = true;
    double paperWidth = 595.0; // A4
    double paperHeight = 842.0;
    double leftMargin = 36.0;
    double rightMargin = 36.0;
    double topMargin = 36.0;
    double bottomMargin = 36.0;
    unsigned long paperOrientation = 0; // 0 portrait, 1 landscape
    QString textEncodingName;           // empty: the file's own
};
