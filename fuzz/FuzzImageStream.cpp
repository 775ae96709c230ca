#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "PDFImageStream.h"

#include <qpdf/QPDF.hh>

#include <string>
#include <vector>

namespace fuzz {

namespace {

std::vector<std::string> sections(const uint8_t* data, size_t size) {
    const std::string all(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (parts.size() < 5) {
        const std::size_t at = all.find("~~~", start);
        if (at == std::string::npos)
            break;
        parts.push_back(all.substr(start, at - start));
        start = at + 3;
    }
    parts.push_back(all.substr(start));
    parts.resize(6);
    return parts;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, from.size(), to), at += to.size();
}

} // namespace

// Input: sections separated by "~~~": the image dictionary, the image data, then two auxiliary
// streams (dictionary, data) that the image dictionary names as @1 and @2 (a tint transform, an
// ICC profile, a soft mask, a lookup table, ...).
int fuzzImagestream(const uint8_t* data, size_t size) {
    const std::vector<std::string> part = sections(data, size);
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.emptyPDF();
        std::string dictText = part[0];
        for (int i = 0; i < 2; ++i) {
            QPDFObjectHandle aux = pdf.makeIndirectObject(
                QPDFObjectHandle::newStream(&pdf, part[std::size_t(3 + 2 * i)]));
            QPDFObjectHandle auxDict = QPDFObjectHandle::parse(part[std::size_t(2 + 2 * i)]);
            if (auxDict.isDictionary()) {
                for (const std::string& k : auxDict.getKeys())
                    aux.getDict().replaceKey(k, auxDict.getKey(k));
            }
            replaceAll(dictText, "@" + std::to_string(i + 1),
                       " " + std::to_string(aux.getObjectID()) + " 0 R ");
        }
        QPDFObjectHandle dict = QPDFObjectHandle::parse(&pdf, dictText);
        if (!dict.isDictionary())
            return 0;
        QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf, part[1]);
        for (const std::string& k : dict.getKeys()) {
            if (k != "/Length")
                stream.getDict().replaceKey(k, dict.getKey(k));
        }
        ImageStreamContext context;
        context.maxPixels = 1u << 20;
        for (bool alpha : {true, false}) {
            context.formatSupportsAlpha = alpha;
            PDFPicture picture;
            std::string error;
            if (CreateImageFromPDFStream(context, stream.getDict(), stream, picture, error)) {
                check(picture.channels == 1 || picture.channels == 3, "picture channels");
                check(!picture.hasAlpha || alpha, "alpha without an alpha format");
                check(picture.width > 0 && picture.height > 0 &&
                          std::uint64_t(picture.width * picture.height) <= context.maxPixels,
                      "picture size within the cap");
                check(picture.pixels.size() ==
                          std::size_t(picture.width * picture.height * picture.pixelBytes()),
                      "picture buffer size");
            } else {
                check(!error.empty(), "failure without a message");
            }
        }
    } catch (const std::exception&) {
        // The dictionary text did not parse: not an image.
    }
    return 0;
}

} // namespace fuzz
