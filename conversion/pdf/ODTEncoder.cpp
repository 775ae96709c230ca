#include "TextDocumentEncoders.h"
#include "ZipPackage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace conversion {

namespace {

constexpr const char* kMimeType = "application/vnd.oasis.opendocument.text";

constexpr const char* kManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
    "manifest:version=\"1.2\">"
    "<manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.2\" "
    "manifest:media-type=\"application/vnd.oasis.opendocument.text\"/>"
    "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
    "</manifest:manifest>";

constexpr const char* kContentStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
    "office:version=\"1.2\">";

std::string points(double size) {
    const double rounded = std::round(std::clamp(size, 1.0, 1600.0) * 100) / 100;
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, rounded);
    return std::string(digits, result.ptr) + "pt";
}

// A family name with spaces or commas is quoted, as in CSS, so it is read as one name.
std::string familyValue(const std::string& family) {
    std::string escaped;
    appendXMLEscaped(escaped, family);
    if (family.find_first_of(" ,") == std::string::npos)
        return escaped;
    return "'" + escaped + "'";
}

// The same properties for Western, Asian and complex scripts, so that CJK and Arabic runs keep
// the font and style of the PDF as Latin ones do.
std::string textProperties(const TextStyle& style) {
    std::string properties;
    auto forEveryScript = [&](const char* western, const char* others, const std::string& value) {
        properties += std::string(" ") + western + "=\"" + value + "\"";
        properties += std::string(" style:") + others + "-asian=\"" + value + "\"";
        properties += std::string(" style:") + others + "-complex=\"" + value + "\"";
    };
    if (!style.fontFamily.empty())
        forEveryScript("fo:font-family", "font-family", familyValue(style.fontFamily));
    if (style.fontSize > 0)
        forEveryScript("fo:font-size", "font-size", points(style.fontSize));
    forEveryScript("fo:font-weight", "font-weight", style.bold ? "bold" : "normal");
    forEveryScript("fo:font-style", "font-style", style.italic ? "italic" : "normal");
    return properties;
}

// Writes paragraphs of spans. OpenDocument collapses runs of spaces and drops a paragraph's
// leading ones, so every space after the first of a run, or at a paragraph's start, is counted
// into a <text:s/> element.
class ContentWriter {
public:
    void addRun(const std::string& styleName, std::string_view text) {
        while (!text.empty()) {
            const size_t stop = text.find_first_of("\n\t ");
            addCharacters(styleName, text.substr(0, stop));
            if (stop == std::string_view::npos)
                break;
            if (text[stop] == '\n') {
                endParagraph();
            } else if (text[stop] == '\t') {
                openSpan(styleName);
                flushSpaces();
                m_paragraph += "<text:tab/>";
                m_afterSpace = true;
            } else {
                openSpan(styleName);
                if (m_afterSpace) {
                    ++m_pendingSpaces;
                } else {
                    m_paragraph += ' ';
                    m_afterSpace = true;
                }
            }
            text.remove_prefix(stop + 1);
        }
    }
    std::string finish() {
        if (!m_paragraph.empty())
            endParagraph();
        return std::move(m_body);
    }

private:
    void addCharacters(const std::string& styleName, std::string_view characters) {
        if (characters.empty())
            return;
        openSpan(styleName);
        flushSpaces();
        appendXMLEscaped(m_paragraph, characters);
        m_afterSpace = false;
    }
    void openSpan(const std::string& styleName) {
        if (m_inSpan && styleName == m_spanStyle)
            return;
        flushSpaces();
        closeSpan();
        m_paragraph += "<text:span text:style-name=\"" + styleName + "\">";
        m_spanStyle = styleName;
        m_inSpan = true;
    }
    void closeSpan() {
        if (m_inSpan)
            m_paragraph += "</text:span>";
        m_inSpan = false;
    }
    void flushSpaces() {
        if (m_pendingSpaces == 1)
            m_paragraph += "<text:s/>";
        else if (m_pendingSpaces > 1)
            m_paragraph += "<text:s text:c=\"" + std::to_string(m_pendingSpaces) + "\"/>";
        m_pendingSpaces = 0;
    }
    void endParagraph() {
        flushSpaces();
        closeSpan();
        m_body += "<text:p text:style-name=\"P1\">" + m_paragraph + "</text:p>";
        m_paragraph.clear();
        m_afterSpace = true;
    }

    std::string m_body;
    std::string m_paragraph;
    std::string m_spanStyle;
    bool m_inSpan = false;
    bool m_afterSpace = true; // a paragraph starts as if after a space
    int m_pendingSpaces = 0;
};

std::string contentPart(const StyledText& text) {
    std::map<std::string, std::string> styleNames; // text properties -> automatic style name
    std::string styles;
    ContentWriter writer;
    for (const TextRun& run : text.runs()) {
        const std::string properties = textProperties(run.style);
        auto [found, added] = styleNames.try_emplace(properties);
        if (added) {
            found->second = "T" + std::to_string(styleNames.size());
            styles += "<style:style style:name=\"" + found->second +
                      "\" style:family=\"text\"><style:text-properties" + properties +
                      "/></style:style>";
        }
        writer.addRun(found->second, run.text);
    }
    // Appended piece by piece: GCC 12 at -O2 wrongly reports a chain of + on strings as reading
    // out of bounds.
    std::string content = kContentStart;
    content += "<office:automatic-styles><style:style style:name=\"P1\" "
               "style:family=\"paragraph\"><style:paragraph-properties fo:margin-top=\"0cm\" "
               "fo:margin-bottom=\"0cm\"/></style:style>";
    content += styles;
    content += "</office:automatic-styles><office:body><office:text>";
    content += writer.finish();
    content += "</office:text></office:body></office:document-content>";
    return content;
}

} // namespace

bool encodeODT(const StyledText& text, std::string& bytes, std::string& error) {
    return writeZipPackage({{"mimetype", kMimeType, true},
                            {"META-INF/manifest.xml", kManifest},
                            {"content.xml", contentPart(text)}},
                           "OpenDocument", bytes, error);
}

} // namespace conversion
