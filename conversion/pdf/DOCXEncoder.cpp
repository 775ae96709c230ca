#include "TextDocumentEncoders.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <zip.h>

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

void appendXMLEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
}

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

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct SourceFreer {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};

bool addPart(zip_t* archive, const char* name, const std::string& content, std::string& error) {
    zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
    if (!source || zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8) < 0) {
        zip_source_free(source);
        error = std::string("cannot add ") + name + ": " + zip_strerror(archive);
        return false;
    }
    return true;
}

} // namespace

bool encodeDOCX(const StyledText& text, std::string& bytes, std::string& error) {
    const std::string contentTypes = kContentTypes;
    const std::string relationships = kPackageRelationships;
    const std::string document = documentPart(text);

    zip_error_t zipError;
    zip_error_init(&zipError);
    std::unique_ptr<zip_source_t, SourceFreer> buffer(
        zip_source_buffer_create(nullptr, 0, 0, &zipError));
    if (!buffer) {
        error = zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return false;
    }
    std::unique_ptr<zip_t, ArchiveCloser> archive(
        zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &zipError));
    if (!archive) {
        error = zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return false;
    }
    zip_error_fini(&zipError);
    // The archive takes a reference of its own; ours stays for reading the result.
    zip_source_keep(buffer.get());
    if (!addPart(archive.get(), "[Content_Types].xml", contentTypes, error) ||
        !addPart(archive.get(), "_rels/.rels", relationships, error) ||
        !addPart(archive.get(), "word/document.xml", document, error))
        return false;
    if (zip_close(archive.get()) < 0) {
        error = std::string("cannot write the DOCX package: ") + zip_strerror(archive.get());
        return false;
    }
    archive.release();

    zip_stat_t info;
    if (zip_source_stat(buffer.get(), &info) < 0 || !(info.valid & ZIP_STAT_SIZE) ||
        zip_source_open(buffer.get()) < 0) {
        error = "cannot read the DOCX package back from memory";
        return false;
    }
    bytes.resize(info.size);
    const zip_int64_t read = zip_source_read(buffer.get(), bytes.data(), info.size);
    zip_source_close(buffer.get());
    if (read < 0 || zip_uint64_t(read) != info.size) {
        error = "cannot read the DOCX package back from memory";
        return false;
    }
    return true;
}

} // namespace conversion
