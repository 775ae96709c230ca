// One printed HTML page read and measured, ready to be appended to the export: the print parsed
// by qpdf (every object read, its named destinations turned into links within the book), and for
// each of its pages the words the text engine finds, the crop box and whether it is blank.
//
// Made by CHMExporter::preparePrint on any thread, with nothing shared; handed whole to the
// exporter's thread, which appends it. The print's bytes stay here while qpdf reads them in place.
// A count of the live ones lets tests check that nothing of a page outlives its turn.
#pragma once

#include "PrintedWord.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <vector>

class QPDF;

struct PreparedPrint {
    struct Page {
        QPDFPageObjectHelper page;
        std::vector<PrintedWord> words; // without words painted twice at the same place
        QPDFObjectHandle::Rectangle crop;
        bool blank = false;
    };

    PreparedPrint();
    ~PreparedPrint();
    PreparedPrint(const PreparedPrint&) = delete;
    PreparedPrint& operator=(const PreparedPrint&) = delete;

    bool ok() const { return printed != nullptr && error.isEmpty(); }
    static int liveCount() { return s_live.load(); }

    QByteArray pdf;
    std::unique_ptr<QPDF> printed;
    std::vector<Page> pages;
    QString error; // why the print could not be read

private:
    static std::atomic<int> s_live;
};
