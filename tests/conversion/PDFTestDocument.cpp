#include "PDFTestDocument.h"

#include <png.h>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

PDFTestDocument::PDFTestDocument() {
    pdf.emptyPDF();
}

QPDFObjectHandle PDFTestDocument::stream(const std::string& dictText, const std::string& data) {
    QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, data);
    QPDFObjectHandle d = QPDFObjectHandle::parse(dictText.empty() ? "<< >>" : dictText);
    for (const std::string& k : d.getKeys())
        s.getDict().replaceKey(k, d.getKey(k));
    return pdf.makeIndirectObject(s);
}

QPDFObjectHandle PDFTestDocument::image(const std::string& dictText, const std::string& data) {
    QPDFObjectHandle s = stream(dictText, data);
    s.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    s.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    return s;
}

QPDFObjectHandle PDFTestDocument::addPage(const std::vector<QPDFObjectHandle>& xobjects,
                                          const std::string& extraContent) {
    QPDFObjectHandle xdict = QPDFObjectHandle::newDictionary();
    std::string content;
    for (std::size_t i = 0; i < xobjects.size(); ++i) {
        const std::string name = "/Im" + std::to_string(i + 1);
        xdict.replaceKey(name, xobjects[i]);
        content += "q 100 0 0 100 " + std::to_string(10 + 110 * (i % 4)) + " " +
                   std::to_string(10 + 110 * (i / 4 % 6)) + " cm " + name + " Do Q\n";
    }
    content += extraContent;
    QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>");
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xdict);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    page = pdf.makeIndirectObject(page);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    return page;
}

void PDFTestDocument::write(const std::filesystem::path& path) {
    QPDFWriter w(pdf, path.c_str());
    w.setStaticID(true);
    w.write();
}

PNGPicture readPNG(const std::filesystem::path& path) {
    PNGPicture out;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return out;
    out.width = int(image.width);
    out.height = int(image.height);
    if (image.format & PNG_FORMAT_FLAG_LINEAR) {
        // A 16-bit file: read its samples as they are (no gamma) and keep the high bytes.
        image.format = PNG_FORMAT_LINEAR_RGB_ALPHA;
        std::vector<png_uint_16> wide(PNG_IMAGE_SIZE(image) / 2);
        out.ok = png_image_finish_read(&image, nullptr, wide.data(), 0, nullptr) != 0;
        out.rgba.resize(wide.size());
        for (std::size_t i = 0; i < wide.size(); ++i)
            out.rgba[i] = std::uint8_t(wide[i] >> 8);
        return out;
    }
    image.format = PNG_FORMAT_RGBA;
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    out.ok = png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
    return out;
}

namespace {

std::filesystem::path processFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return std::filesystem::path(tmp ? tmp : "/tmp") /
           ("lumeno-pdfimages-" + std::to_string(::getpid()));
}

// Removes the test program's scratch folder when it ends.
struct ScratchCleanup {
    ~ScratchCleanup() {
        std::error_code ec;
        std::filesystem::remove_all(processFolder(), ec);
    }
} scratchCleanup;

} // namespace

std::filesystem::path freshFolder(const std::string& name) {
    std::filesystem::path p = processFolder() / name;
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p;
}

int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string flate(const std::string& data) {
    std::string out;
    Pl_String sink("sink", nullptr, out);
    Pl_Flate deflate("deflate", &sink, Pl_Flate::a_deflate);
    deflate.write(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    deflate.finish();
    return out;
}
