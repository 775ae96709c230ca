#include "DocumentLayout.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace conversion {

namespace {

bool parseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end && *end == '\0' && !text.empty();
}

} // namespace

std::filesystem::path laidOutTextPath(const std::filesystem::path& print) {
    return print.string() + ".text";
}

std::string readLaidOutText(const std::filesystem::path& path) {
    // Far more than any document the layout takes in memory.
    constexpr qint64 kMaxText = qint64(1) << 30;
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxText)
        return {};
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

std::vector<std::string> layoutArguments(const DocumentLayoutRequest& r) {
    auto number = [](double v) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.17g", v);
        return std::string(buffer);
    };
    std::vector<std::string> a = {"--paper",           number(r.paperWidth),  number(r.paperHeight),
                                  "--margins",         number(r.leftMargin),  number(r.rightMargin),
                                  number(r.topMargin), number(r.bottomMargin)};
    if (r.landscape)
        a.push_back("--landscape");
    if (r.richTextAttributes)
        a.push_back("--rich-attributes");
    if (r.attributes && r.attributes->fontFamily)
        a.insert(a.end(), {"--font", *r.attributes->fontFamily});
    if (r.attributes && r.attributes->fontSize)
        a.insert(a.end(), {"--font-size", number(*r.attributes->fontSize)});
    if (r.attributes && r.attributes->textColor)
        a.insert(a.end(), {"--color", std::to_string(*r.attributes->textColor)});
    a.insert(a.end(), {"--", r.document.string(), r.print.string()});
    return a;
}

bool parseLayoutArguments(const std::vector<std::string>& a, DocumentLayoutRequest& r,
                          std::string& error) {
    std::size_t i = 0;
    auto take = [&](std::size_t count) { return i + count < a.size(); };
    auto attributes = [&]() -> TextAttributes& {
        if (!r.attributes)
            r.attributes.emplace();
        return *r.attributes;
    };
    for (; i < a.size(); ++i) {
        const std::string& option = a[i];
        double v = 0;
        if (option == "--") {
            ++i;
            break;
        }
        if (option == "--paper" && take(2) && parseNumber(a[i + 1], r.paperWidth) &&
            parseNumber(a[i + 2], r.paperHeight)) {
            i += 2;
        } else if (option == "--margins" && take(4) && parseNumber(a[i + 1], r.leftMargin) &&
                   parseNumber(a[i + 2], r.rightMargin) && parseNumber(a[i + 3], r.topMargin) &&
                   parseNumber(a[i + 4], r.bottomMargin)) {
            i += 4;
        } else if (option == "--landscape") {
            r.landscape = true;
        } else if (option == "--rich-attributes") {
            r.richTextAttributes = true;
        } else if (option == "--font" && take(1)) {
            attributes().fontFamily = a[++i];
        } else if (option == "--font-size" && take(1) && parseNumber(a[i + 1], v)) {
            attributes().fontSize = v;
            ++i;
        } else if (option == "--color" && take(1) && parseNumber(a[i + 1], v) && v >= 0 &&
                   v <= 0xFFFFFF) {
            attributes().textColor = std::uint32_t(v);
            ++i;
        } else {
            error = "unknown or incomplete option " + option;
            return false;
        }
    }
    if (i + 2 != a.size()) {
        error = "expected the document and the print file after the options";
        return false;
    }
    r.document = a[i];
    r.print = a[i + 1];
    return true;
}

} // namespace conversion
