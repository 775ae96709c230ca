#include "DocumentText.h"

#include "DocumentResources.h"
#include "InputFile.h"
#include "LibreOfficeConverter.h"
#include "OutputFile.h"
#include "PlistGuard.h"
#include "VNTUtil.h"

#include <QRegularExpression>
#include <QString>
#include <QTextDocument>

#include <plist/plist.h>
#include <uchardet/uchardet.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <memory>
#include <string_view>

namespace conversion {

namespace {

bool readFile(const std::filesystem::path& path, std::string& bytes, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "is a folder";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const std::string why = whyUnreadable(path);
        error = "cannot be opened" + (why.empty() ? std::string() : ": " + why);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot be read";
        return false;
    }
    return true;
}

// Strict: no overlong forms, surrogates or values above U+10FFFF.
bool validUTF8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        int length = 0;
        std::uint32_t value = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            value = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            value = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            value = c & 0x07;
        } else {
            return false;
        }
        if (i + std::size_t(length) > n)
            return false;
        for (int k = 1; k < length; ++k) {
            if ((p[i + std::size_t(k)] & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (p[i + std::size_t(k)] & 0x3F);
        }
        static const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += std::size_t(length);
    }
    return true;
}

// What a file that is no text looks like, judged on its head: a NUL byte, which no text in an
// 8-bit encoding or UTF-8 holds (UTF-16 and UTF-32 text is known by its BOM before this), or
// more control characters than text ever has. The kinds users give by mistake are named.
bool looksBinary(const std::string& bytes, std::string& kind) {
    constexpr std::size_t kHead = 1 << 16;
    const std::string_view head(bytes.data(), std::min(bytes.size(), kHead));
    auto startsWith = [&](std::string_view mark) { return head.substr(0, mark.size()) == mark; };
    std::size_t controls = 0;
    bool nul = false;
    for (const char c : head) {
        const auto u = static_cast<unsigned char>(c);
        nul = nul || u == 0;
        // Tab, line feed, vertical tab, form feed, carriage return and escape occur in text.
        if ((u < 0x20 && (u < 0x09 || u > 0x0D) && u != 0x1B) || u == 0x7F)
            ++controls;
    }
    if (!nul && controls * 10 <= head.size())
        return false;
    if (startsWith("PK\x03\x04") || startsWith("PK\x05\x06"))
        kind = "a ZIP archive";
    else if (startsWith("\x7F"
                        "ELF"))
        kind = "a program (ELF)";
    else if (startsWith("%PDF-"))
        kind = "a PDF document";
    else if (startsWith("\x1F\x8B"))
        kind = "gzip-compressed data";
    else
        kind = "binary data";
    return true;
}

bool convertWithIconv(const std::string& bytes, const char* charset, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", charset);
    if (cd == iconv_t(-1))
        return false;
    std::string result(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outPtr = result.data();
    std::size_t outLeft = result.size();
    const std::size_t status = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (status == std::size_t(-1))
        return false;
    result.resize(result.size() - outLeft);
    out = std::move(result);
    return true;
}

std::string lowerExtension(const std::filesystem::path& path) {
    std::string e = path.extension().string();
    if (!e.empty())
        e.erase(0, 1);
    std::transform(e.begin(), e.end(), e.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return e;
}

// Qt's HTML reader drops an anchor that holds no text (<a name="x"></a>, the usual way of
// marking a place), so links to it would lead nowhere. Each is given a zero-width space to hold
// on to; one that stands just before a block (a heading) goes into that block, so that it adds
// no line of its own.
QString keepEmptyAnchors(const QString& html) {
    static const QRegularExpression emptyAnchor(
        QStringLiteral(
            R"((<a\s[^>]*\b(?:name|id)\s*=[^>]*>)\s*(</a\s*>)((?:\s*<(?:h[1-6]|p|div|li|dt|)"
            R"(dd|pre|blockquote|center|address|td|th)\b[^>]*>)?))"),
        QRegularExpression::CaseInsensitiveOption);
    QString kept = html;
    kept.replace(emptyAnchor, QStringLiteral("\\3\\1\u200B\\2"));
    return kept;
}

void setHtmlKeepingAnchors(QTextDocument& document, const QString& html) {
    document.setHtml(keepEmptyAnchors(html));
}

bool loadThroughLibreOffice(const std::filesystem::path& path, const std::string& extension,
                            ConfinedTextDocument& document, std::string& error) {
    // The page LibreOffice makes and the pictures it writes beside it get a folder of their own,
    // which is the page's only source of pictures; they are read into the document before the
    // folder goes.
    RemoveOnExit folder{
        std::filesystem::path(ToStdString(GetTemporaryURL().toLocalFile()) + "-office")};
    std::error_code ec;
    if (!std::filesystem::create_directory(folder.path, ec)) {
        error = "cannot make a folder for LibreOffice's output: " + ec.message();
        folder.path.clear();
        return false;
    }
    LibreOfficeConversion conversion;
    if (!readFile(path, conversion.input, error))
        return false;
    conversion.inputExtension = extension;
    conversion.target = "html:HTML (StarWriter):UTF8";
    conversion.output = folder.path / "document.html";
    conversion.companions = folder.path;
    if (!convertWithLibreOffice(conversion, error))
        return false;
    std::string bytes;
    if (!readFile(conversion.output, bytes, error))
        return false;
    document.setResourceFolder(folder.path);
    setHtmlKeepingAnchors(document, QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
    document.dropUnreadablePictures();
    return true;
}

bool loadWebArchive(const std::string& bytes, QTextDocument& document, bool& isPlain,
                    std::string& error) {
    plist_t root = nullptr;
    if (bytes.size() < 8 || bytes.size() > 0xFFFFFFFFu) {
        error = "not a web archive";
        return false;
    }
    // libplist recurses without a limit and copies shared objects: a hostile archive would
    // exhaust the stack or the memory before it fails.
    std::string refusal;
    if (!PlistGuard::isSafeToParse(bytes.data(), bytes.size(), &refusal)) {
        error = "not a web archive that can be read safely: " + refusal;
        return false;
    }
    plist_from_memory(bytes.data(), std::uint32_t(bytes.size()), &root);
    std::unique_ptr<void, void (*)(plist_t)> guard(root, plist_free);
    plist_t main = root && plist_get_node_type(root) == PLIST_DICT
                       ? plist_dict_get_item(root, "WebMainResource")
                       : nullptr;
    plist_t data = main && plist_get_node_type(main) == PLIST_DICT
                       ? plist_dict_get_item(main, "WebResourceData")
                       : nullptr;
    if (!data || plist_get_node_type(data) != PLIST_DATA) {
        error = "not a web archive";
        return false;
    }
    char* raw = nullptr;
    std::uint64_t length = 0;
    plist_get_data_val(data, &raw, &length);
    std::string page(raw ? raw : "", raw ? std::size_t(length) : 0);
    std::free(raw);
    std::string mime;
    if (plist_t type = plist_dict_get_item(main, "WebResourceMIMEType");
        type && plist_get_node_type(type) == PLIST_STRING) {
        char* value = nullptr;
        plist_get_string_val(type, &value);
        mime = value ? value : "";
        std::free(value);
    }
    std::string text;
    if (!decodeText(page, text, error))
        return false;
    isPlain = mime == "text/plain";
    if (isPlain)
        document.setPlainText(QString::fromStdString(text));
    else
        setHtmlKeepingAnchors(document, QString::fromStdString(text));
    return true;
}

} // namespace

DocumentKind documentKindOf(const std::filesystem::path& path) {
    const std::string e = lowerExtension(path);
    if (e == "html" || e == "htm" || e == "xhtml" || e == "shtml")
        return DocumentKind::HTML;
    if (e == "webarchive")
        return DocumentKind::WebArchive;
    if (e == "rtfd")
        return DocumentKind::RTFD;
    if (e == "rtf" || e == "doc" || e == "docx" || e == "odt")
        return DocumentKind::Office;
    return DocumentKind::PlainText;
}

bool decodeText(const std::string& bytes, std::string& utf8, std::string& error) {
    auto has = [&](const char* bom, std::size_t n) { return bytes.compare(0, n, bom, n) == 0; };
    if (bytes.size() >= 3 && has("\xEF\xBB\xBF", 3)) {
        utf8 = bytes.substr(3);
        return true;
    }
    const char* charset = nullptr;
    if (bytes.size() >= 4 && has("\xFF\xFE\0\0", 4))
        charset = "UTF-32LE";
    else if (bytes.size() >= 4 && has("\0\0\xFE\xFF", 4))
        charset = "UTF-32BE";
    else if (bytes.size() >= 2 && has("\xFF\xFE", 2))
        charset = "UTF-16LE";
    else if (bytes.size() >= 2 && has("\xFE\xFF", 2))
        charset = "UTF-16BE";
    if (charset) {
        const std::size_t skip = charset[4] == '3' ? 4 : 2;
        if (convertWithIconv(bytes.substr(skip), charset, utf8))
            return true;
        error = std::string("not valid ") + charset + " text";
        return false;
    }
    if (std::string kind; looksBinary(bytes, kind)) {
        error = "not a document that can be laid out (" + kind + ")";
        return false;
    }
    if (validUTF8(bytes)) {
        utf8 = bytes;
        return true;
    }
    uchardet_t detector = uchardet_new();
    uchardet_handle_data(detector, bytes.data(), bytes.size());
    uchardet_data_end(detector);
    const std::string guess = uchardet_get_charset(detector);
    uchardet_delete(detector);
    if (!guess.empty() && convertWithIconv(bytes, guess.c_str(), utf8))
        return true;
    // Latin-1 maps every byte, so text of an unknown encoding still reads.
    return convertWithIconv(bytes, "ISO-8859-1", utf8);
}

namespace {

bool loadByKind(const std::filesystem::path& path, DocumentKind kind,
                ConfinedTextDocument& document, bool& isPlain, std::string& error) {
    if (kind == DocumentKind::RTFD) {
        std::error_code ec;
        const std::filesystem::path rtf = path / "TXT.rtf";
        if (!std::filesystem::is_regular_file(rtf, ec)) {
            error = "an RTFD package without TXT.rtf";
            return false;
        }
        return loadThroughLibreOffice(rtf, "rtf", document, error);
    }
    if (kind == DocumentKind::Office)
        return loadThroughLibreOffice(path, lowerExtension(path), document, error);
    std::string bytes;
    if (!readFile(path, bytes, error))
        return false;
    if (kind == DocumentKind::WebArchive)
        return loadWebArchive(bytes, document, isPlain, error);
    std::string text;
    if (!decodeText(bytes, text, error))
        return false;
    if (kind == DocumentKind::HTML) {
        setHtmlKeepingAnchors(document, QString::fromStdString(text));
    } else {
        isPlain = true;
        document.setPlainText(QString::fromStdString(text));
    }
    return true;
}

} // namespace

bool loadDocumentText(const std::filesystem::path& path, ConfinedTextDocument& document,
                      bool& isPlain, std::string& error) {
    const DocumentKind kind = documentKindOf(path);
    isPlain = false;
    // An HTML file draws its pictures from its own folder; what LibreOffice makes of a document
    // and a web archive's page have no folder to draw from.
    std::error_code noFolder;
    document.setResourceFolder(kind == DocumentKind::HTML
                                   ? std::filesystem::absolute(path, noFolder).parent_path()
                                   : std::filesystem::path());
    if (!loadByKind(path, kind, document, isPlain, error))
        return false;
    document.dropUnreadablePictures();
    return true;
}

} // namespace conversion
