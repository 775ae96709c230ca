#include "PDFImageWriter.h"

#include <cmath>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <sstream>

namespace conversion {

namespace {

std::string formatNumber(double value) {
    std::ostringstream s;
    s.precision(6);
    s << std::fixed << value;
    return s.str();
}

// The number of colour channels of an ICC profile's data colour space; 0 for a profile that is
// too short to be one or whose space has no place in a PDF image.
int profileComponents(const std::vector<std::uint8_t>& profile) {
    if (profile.size() < 132)
        return 0;
    const std::string space(profile.begin() + 16, profile.begin() + 20);
    if (space == "GRAY")
        return 1;
    if (space == "CMYK")
        return 4;
    for (const char* three :
         {"RGB ", "Lab ", "XYZ ", "YCbr", "Luv ", "Yxy ", "HSV ", "HLS ", "CMY "})
        if (space == three)
            return 3;
    return 0;
}

} // namespace

QPDFObjectHandle imageColorSpace(QPDF& pdf, int components,
                                 const std::vector<std::uint8_t>& profile) {
    const char* device = components == 1   ? "/DeviceGray"
                         : components == 4 ? "/DeviceCMYK"
                                           : "/DeviceRGB";
    // A profile of another number of channels than the samples (a grey picture that kept the
    // profile of its colour original) would make the image unreadable: the device space serves.
    if (profile.empty() || profileComponents(profile) != components)
        return QPDFObjectHandle::newName(device);
    QPDFObjectHandle stream =
        QPDFObjectHandle::newStream(&pdf, std::string(profile.begin(), profile.end()));
    stream.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(components));
    stream.getDict().replaceKey("/Alternate", QPDFObjectHandle::newName(device));
    QPDFObjectHandle array = QPDFObjectHandle::newArray();
    array.appendItem(QPDFObjectHandle::newName("/ICCBased"));
    array.appendItem(stream);
    return array;
}

namespace {

QPDFObjectHandle imageStream(QPDF& pdf, const Bitmap& b) {
    std::string samples;
    std::string alpha;
    splitColourAndAlpha(b, samples, alpha);
    auto makeImage = [&](std::string data, QPDFObjectHandle space) {
        QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, std::move(data));
        QPDFObjectHandle dict = image.getDict();
        dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
        dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
        dict.replaceKey("/Width", QPDFObjectHandle::newInteger(b.width));
        dict.replaceKey("/Height", QPDFObjectHandle::newInteger(b.height));
        dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        dict.replaceKey("/ColorSpace", space);
        return image;
    };
    QPDFObjectHandle image =
        makeImage(std::move(samples), imageColorSpace(pdf, b.colorChannels(), b.iccProfile));
    if (b.model == ColorModel::CMYK && b.iccProfile.empty()) {
        // Plain CMYK samples are read upright; say so, as some readers assume Adobe's inversion.
        QPDFObjectHandle decode = QPDFObjectHandle::newArray();
        for (int i = 0; i < 4; ++i) {
            decode.appendItem(QPDFObjectHandle::newInteger(0));
            decode.appendItem(QPDFObjectHandle::newInteger(1));
        }
        image.getDict().replaceKey("/Decode", decode);
    }
    if (b.hasAlpha)
        image.getDict().replaceKey(
            "/SMask", makeImage(std::move(alpha), QPDFObjectHandle::newName("/DeviceGray")));
    return image;
}

} // namespace

void PDFImageWriter::addPage(const Bitmap& bitmap, double dpiX, double dpiY) {
    m_pages.push_back({&bitmap, dpiX, dpiY});
}

bool PDFImageWriter::write(std::vector<std::uint8_t>& out, std::string& error) const {
    if (m_pages.empty()) {
        error = "no page to write";
        return false;
    }
    try {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFPageDocumentHelper pages(pdf);
        for (const Page& p : m_pages) {
            const Bitmap& b = *p.bitmap;
            if (b.empty())
                continue;
            auto usable = [](double d) { return std::isfinite(d) && d > 0; };
            const double dx = usable(p.dpiX) ? p.dpiX : usable(b.dpiX) ? b.dpiX : 72.0;
            const double dy = usable(p.dpiY) ? p.dpiY : usable(b.dpiY) ? b.dpiY : 72.0;
            const double w = double(b.width) * 72.0 / dx;
            const double h = double(b.height) * 72.0 / dy;
            QPDFObjectHandle image = imageStream(pdf, b);
            QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
            xobjects.replaceKey("/Im0", image);
            QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
            resources.replaceKey("/XObject", xobjects);
            const std::string content =
                "q " + formatNumber(w) + " 0 0 " + formatNumber(h) + " 0 0 cm /Im0 Do Q\n";
            QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, content);
            QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
            page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
            QPDFObjectHandle box = QPDFObjectHandle::newArray();
            box.appendItem(QPDFObjectHandle::newInteger(0));
            box.appendItem(QPDFObjectHandle::newInteger(0));
            box.appendItem(QPDFObjectHandle::newReal(formatNumber(w)));
            box.appendItem(QPDFObjectHandle::newReal(formatNumber(h)));
            page.replaceKey("/MediaBox", box);
            page.replaceKey("/Resources", resources);
            page.replaceKey("/Contents", contents);
            pages.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
        }
        if (pages.getAllPages().empty()) {
            error = "no page to write";
            return false;
        }
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.setCompressStreams(true);
        writer.setStreamDataMode(qpdf_s_compress);
        writer.write();
        auto buffer = writer.getBufferSharedPointer();
        out.assign(buffer->getBuffer(), buffer->getBuffer() + buffer->getSize());
    } catch (const std::exception& e) {
        error = std::string("the PDF could not be written: ") + e.what();
        return false;
    }
    return true;
}

} // namespace conversion
