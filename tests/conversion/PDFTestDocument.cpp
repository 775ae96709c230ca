#include "PDFTestDocument.h"

#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

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

std::string flate(const std::string& data) {
    std::string out;
    Pl_String sink("sink", nullptr, out);
    Pl_Flate deflate("deflate", &sink, Pl_Flate::a_deflate);
    deflate.write(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    deflate.finish();
    return out;
}
