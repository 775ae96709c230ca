#include "TextDocumentEncoders.h"
#include "ZipPackage.h"

#include <algorithm>
#include <cmath>

namespace conversion {

namespace {

constexpr const char* kContentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
    "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
    "</Types>";

constexpr const char* kPackageRelationships =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/officeDocument\" Target=\"word/document.xml\"/>"
    "</Relationships>";

std::string runProperties(const TextStyle& style) {
    std::string properties;
    if (!style.fontFamily.empty()) {
        std::string name;
        appendXMLEscaped(name, style.fontFamily);
        properties += "<w:rFonts w:ascii=\"" + name + "\" w:hAnsi=\"" + name + "\" w:cs=\"" + name +
                      "\" w:eastAsia=\"" + name + "\"/>";
    }
    if (style.bold)
        properties += "<w:b/>";
    if (style.italic)
        properties += "<w:i/>";
    if (style.fontSize > 0) {
        const long halfPoints = std::lround(std::clamp(style.fontSize, 1.0, 1600.0) * 2);
        properties += "<w:sz w:val=\"" + std::to_string(halfPoints) + "\"/>";
    }
    return properties.empty() ? std::string() : "<w:rPr>" + properties + "</w:rPr>";
}

// One paragraph per line; a tab is its own element.
std::string documentPart(const StyledText& text) {
    std::string body;
    std::string paragraph;
    auto endParagraph = [&] {
        body +=
            "<w:p><w:pPr><w:spacing w:before=\"0\" w:after=\"0\"/></w:pPr>" + paragraph + "</w:p>";
        paragraph.clear();
    };
    for (const TextRun& run : text.runs()) {
        const std::string properties = runProperties(run.style);
        std::string_view rest = run.text;
        while (!rest.empty()) {
            const size_t stop = rest.find_first_of("\n\t");
            const std::string_view piece = rest.substr(0, stop);
            if (!piece.empty()) {
                paragraph += "<w:r>" + properties + "<w:t xml:space=\"preserve\">";
                appendXMLEscaped(paragraph, piece);
                paragraph += "</w:t></w:r>";
            }
            if (stop == std::string_view::npos)
                break;
            if (rest[stop] == '\t')
                paragraph += "<w:r>" + properties + "<w:tab/></w:r>";
            else
                endParagraph();
            rest.remove_prefix(stop + 1);
        }
    }
    if (!paragraph.empty())
        endParagraph();
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
           "<w:body>" +
           body + "<w:sectPr/></w:body></w:document>";
}

} // namespace

bool encodeDOCX(const StyledText& text, std::string& bytes, std::string& error) {
    return writeZipPackage({{"[Content_Types].xml", kContentTypes},
                            {"_rels/.rels", kPackageRelationships},
                            {"word/document.xml", documentPart(text)}},
                           "DOCX", bytes, error);
}

} // namespace conversion
