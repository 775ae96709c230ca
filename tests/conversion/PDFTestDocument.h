// PDFs made with qpdf whose pages draw image XObjects, inline images and forms.
#pragma once

#include "TestFiles.h"

#include <filesystem>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

class PDFTestDocument {
public:
    PDFTestDocument();
    // An image XObject from dictionary text (without /Type, /Subtype, /Length) and its data
    // (stored as given: the dictionary names its filters).
    QPDFObjectHandle image(const std::string& dictText, const std::string& data);
    // A stream object of any kind.
    QPDFObjectHandle stream(const std::string& dictText, const std::string& data);
    // A page whose resources list `xobjects` as /Im1, /Im2, ... (drawn in that order) and whose
    // content ends with `extraContent` (e.g. inline images).
    QPDFObjectHandle addPage(const std::vector<QPDFObjectHandle>& xobjects,
                             const std::string& extraContent = "");
    void write(const std::filesystem::path& path);
    QPDF pdf;
};

using testfiles::freshDir;
using testfiles::PNGPicture;
using testfiles::readPNG;
using testfiles::run;
std::string flate(const std::string& data);
