// PDFs made in the tests with qpdf: pages that draw image XObjects, inline images and forms, and
// the PNG files read back for comparison.
#pragma once

#include <cstdint>
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

struct PNGPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba; // always RGBA after reading
    bool ok = false;
};
PNGPicture readPNG(const std::filesystem::path& path);

// A fresh empty folder under the test's temporary directory.
std::filesystem::path freshFolder(const std::string& name);
// Runs a command line; answers its exit status.
int runCommand(const std::string& command);
std::string flate(const std::string& data);
