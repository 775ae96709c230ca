#include "TextReadBack.h"

#include "TestFiles.h"

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <map>
#include <sstream>

std::string PdftotextOf(const std::string& pdf, int first, int last) {
    std::string command = "pdftotext -enc UTF-8 -f " + std::to_string(first);
    if (last > 0)
        command += " -l " + std::to_string(last);
    return testfiles::capture(command + " " + testfiles::shellQuote(pdf) + " - 2>/dev/null");
}

std::string NormalizeSpace(const std::string& text) {
    std::string out;
    bool pendingSpace = false;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\v') {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace)
            out.push_back(' ');
        pendingSpace = false;
        out.push_back(c);
    }
    return out;
}

std::string ReadUTF16File(const std::string& path) {
    const std::string bytes = testfiles::readText(path);
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE' || bytes.size() % 2)
        return {};
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        units.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
    return QString::fromStdU16String(units).toStdString();
}

namespace {

bool named(xmlNodePtr node, const char* name) {
    return node->name && xmlStrcmp(node->name, BAD_CAST name) == 0;
}

std::string attribute(xmlNodePtr node, const char* name) {
    xmlChar* value = xmlGetProp(node, BAD_CAST name);
    if (!value)
        return {};
    std::string text = reinterpret_cast<const char*>(value);
    xmlFree(value);
    return text;
}

double points(const std::string& text) {
    return text.empty() ? 0 : std::strtod(text.c_str(), nullptr);
}

void addText(ReadDocument& document, const std::string& text, const ReadRun& style) {
    document.text += text;
    ReadRun run = style;
    run.text = text;
    document.runs.push_back(run);
}

// unrtf's HTML: <b>, <i>, <font face>, <span style="font-size:Npt">, <br>.
void walkHTML(xmlNodePtr node, ReadDocument& document, ReadRun style) {
    for (; node; node = node->next) {
        if (node->type == XML_TEXT_NODE) {
            std::string text = reinterpret_cast<const char*>(node->content);
            std::string cleaned;
            for (char c : text)
                if (c != '\n')
                    cleaned.push_back(c);
            if (!cleaned.empty())
                addText(document, cleaned, style);
            continue;
        }
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (named(node, "br")) {
            document.text += '\n';
            continue;
        }
        if (named(node, "head") || named(node, "title") || named(node, "style"))
            continue;
        ReadRun inner = style;
        if (named(node, "b"))
            inner.bold = true;
        if (named(node, "i"))
            inner.italic = true;
        if (named(node, "font") && !attribute(node, "face").empty())
            inner.font = attribute(node, "face");
        const std::string css = attribute(node, "style");
        if (const size_t at = css.find("font-size:"); at != std::string::npos)
            inner.size = points(css.substr(at + 10));
        walkHTML(node->children, document, inner);
    }
}

std::string unzipEntry(const std::string& path, const std::string& entry) {
    return testfiles::capture("unzip -p " + testfiles::shellQuote(path) + " " +
                              testfiles::shellQuote(entry) + " 2>/dev/null");
}

// WordprocessingML: w:p paragraphs of w:r runs with w:rPr (w:b, w:i, w:rFonts, w:sz).
void walkDOCX(xmlNodePtr node, ReadDocument& document) {
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (named(node, "r")) {
            ReadRun style;
            for (xmlNodePtr part = node->children; part; part = part->next) {
                if (part->type != XML_ELEMENT_NODE)
                    continue;
                if (named(part, "rPr")) {
                    for (xmlNodePtr p = part->children; p; p = p->next) {
                        if (p->type != XML_ELEMENT_NODE)
                            continue;
                        if (named(p, "b"))
                            style.bold = true;
                        else if (named(p, "i"))
                            style.italic = true;
                        else if (named(p, "rFonts"))
                            style.font = attribute(p, "ascii");
                        else if (named(p, "sz"))
                            style.size = points(attribute(p, "val")) / 2;
                    }
                } else if (named(part, "t")) {
                    xmlChar* text = xmlNodeGetContent(part);
                    addText(document, reinterpret_cast<const char*>(text), style);
                    xmlFree(text);
                } else if (named(part, "tab")) {
                    addText(document, "\t", style);
                }
            }
            continue;
        }
        walkDOCX(node->children, document);
        if (named(node, "p"))
            document.text += '\n';
    }
}

struct ODTStyles {
    std::map<std::string, ReadRun> byName;
};

void readODTStyles(xmlNodePtr node, ODTStyles& styles) {
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (named(node, "style")) {
            ReadRun style;
            for (xmlNodePtr p = node->children; p; p = p->next) {
                if (p->type == XML_ELEMENT_NODE && named(p, "text-properties")) {
                    style.bold = attribute(p, "font-weight") == "bold";
                    style.italic = attribute(p, "font-style") == "italic";
                    style.font = attribute(p, "font-family");
                    style.size = points(attribute(p, "font-size"));
                }
            }
            styles.byName[attribute(node, "name")] = style;
            continue;
        }
        readODTStyles(node->children, styles);
    }
}

void walkODT(xmlNodePtr node, ReadDocument& document, const ODTStyles& styles, ReadRun style) {
    for (; node; node = node->next) {
        if (node->type == XML_TEXT_NODE) {
            addText(document, reinterpret_cast<const char*>(node->content), style);
            continue;
        }
        if (node->type != XML_ELEMENT_NODE || named(node, "automatic-styles"))
            continue;
        if (named(node, "s")) {
            const std::string count = attribute(node, "c");
            addText(document, std::string(count.empty() ? 1 : std::atoi(count.c_str()), ' '),
                    style);
            continue;
        }
        if (named(node, "tab")) {
            addText(document, "\t", style);
            continue;
        }
        if (named(node, "line-break")) {
            document.text += '\n';
            continue;
        }
        ReadRun inner = style;
        if (named(node, "span")) {
            const auto found = styles.byName.find(attribute(node, "style-name"));
            if (found != styles.byName.end())
                inner = found->second;
        }
        walkODT(node->children, document, styles, inner);
        if (named(node, "p") || named(node, "h"))
            document.text += '\n';
    }
}

} // namespace

ReadDocument ReadRTF(const std::string& path) {
    ReadDocument document;
    int status = 0;
    const std::string html =
        testfiles::capture("unrtf --html " + testfiles::shellQuote(path) + " 2>/dev/null", &status);
    if (status != 0 || html.empty())
        return document;
    htmlDocPtr doc = htmlReadMemory(html.data(), int(html.size()), nullptr, "UTF-8",
                                    HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!doc)
        return document;
    walkHTML(xmlDocGetRootElement(doc), document, ReadRun());
    xmlFreeDoc(doc);
    document.ok = true;
    return document;
}

ReadDocument ReadDOCX(const std::string& path) {
    ReadDocument document;
    const std::string xml = unzipEntry(path, "word/document.xml");
    xmlDocPtr doc = xmlReadMemory(xml.data(), int(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (!doc)
        return document;
    walkDOCX(xmlDocGetRootElement(doc), document);
    xmlFreeDoc(doc);
    document.ok = true;
    return document;
}

ReadDocument ReadODT(const std::string& path) {
    ReadDocument document;
    const std::string xml = unzipEntry(path, "content.xml");
    xmlDocPtr doc = xmlReadMemory(xml.data(), int(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (!doc)
        return document;
    ODTStyles styles;
    readODTStyles(xmlDocGetRootElement(doc), styles);
    walkODT(xmlDocGetRootElement(doc), document, styles, ReadRun());
    xmlFreeDoc(doc);
    document.ok = true;
    return document;
}

bool HasRun(const ReadDocument& document, const std::string& text, bool bold, bool italic) {
    for (const ReadRun& run : document.runs)
        if (run.bold == bold && run.italic == italic && run.text.find(text) != std::string::npos)
            return true;
    return false;
}

bool FirstZipEntry(const std::string& path, std::string& name, int& method) {
    const std::string bytes = testfiles::readText(path);
    if (bytes.size() < 30 || bytes.compare(0, 4, "PK\x03\x04") != 0)
        return false;
    auto u16 = [&bytes](size_t at) {
        return unsigned(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
    };
    method = int(u16(8));
    const size_t nameLength = u16(26);
    if (bytes.size() < 30 + nameLength)
        return false;
    name = bytes.substr(30, nameLength);
    return true;
}

bool HaveLibreOffice() {
    int status = 0;
    testfiles::capture("command -v soffice >/dev/null 2>&1", &status);
    return status == 0;
}

bool LibreOfficeText(const std::string& path, std::string& text) {
    char pattern[] = "/tmp/lumeno-test-office-XXXXXX";
    if (!mkdtemp(pattern))
        return false;
    const std::string scratch = pattern;
    int status = 0;
    testfiles::capture("timeout 180 soffice -env:UserInstallation=file://" + scratch +
                           "/profile --headless --norestore --nolockcheck --convert-to "
                           "'txt:Text (encoded):UTF8' --outdir " +
                           testfiles::shellQuote(scratch + "/out") + " " +
                           testfiles::shellQuote(path) + " >/dev/null 2>&1",
                       &status);
    bool found = false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(scratch + "/out", ec)) {
        text = testfiles::readText(entry.path().string());
        found = true;
    }
    std::filesystem::remove_all(scratch, ec);
    return status == 0 && found;
}
