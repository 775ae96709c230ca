#include "TextEncodingTable.h"

#include <QHash>
#include <array>
#include <cerrno>
#include <iconv.h>

namespace {

struct EncodingNames {
    const char* name;       // as the reader stores it
    const char* iconvName;  // for iconv (sitemaps, metadata, search text)
    const char* webCharset; // for the web engine's response charset
};

// Windows code pages first: they are what language records and most files use.
constexpr std::array<EncodingNames, 75> kEncodings{{
    {"CP874", "CP874", "windows-874"},
    {"CP932", "CP932", "Shift_JIS"},
    {"CP936", "GBK", "GBK"},
    {"CP949", "CP949", "EUC-KR"},
    {"CP950", "BIG5", "Big5"},
    {"CP1250", "CP1250", "windows-1250"},
    {"CP1251", "CP1251", "windows-1251"},
    {"CP1252", "CP1252", "windows-1252"},
    {"CP1253", "CP1253", "windows-1253"},
    {"CP1254", "CP1254", "windows-1254"},
    {"CP1255", "CP1255", "windows-1255"},
    {"CP1256", "CP1256", "windows-1256"},
    {"CP1257", "CP1257", "windows-1257"},
    {"CP1258", "CP1258", "windows-1258"},
    {"GBK", "GBK", "GBK"},
    {"GB2312", "GBK", "GBK"},
    {"GB18030", "GB18030", "gb18030"},
    {"BIG5", "BIG5", "Big5"},
    {"SHIFT_JIS", "CP932", "Shift_JIS"},
    {"EUC-JP", "EUC-JP", "EUC-JP"},
    {"EUC-KR", "CP949", "EUC-KR"},
    {"KOI8-R", "KOI8-R", "KOI8-R"},
    {"KOI8-U", "KOI8-U", "KOI8-U"},
    {"ISO-8859-1", "ISO-8859-1", "ISO-8859-1"},
    {"ISO_8859_1", "ISO-8859-1", "ISO-8859-1"},
    {"ISO-8859-2", "ISO-8859-2", "ISO-8859-2"},
    {"ISO-8859-5", "ISO-8859-5", "ISO-8859-5"},
    {"ISO-8859-7", "ISO-8859-7", "ISO-8859-7"},
    {"ISO-8859-9", "ISO-8859-9", "ISO-8859-9"},
    {"ISO-8859-15", "ISO-8859-15", "ISO-8859-15"},
    {"UTF-8", "UTF-8", "UTF-8"},
    {"WINDOWS-1251", "CP1251", "windows-1251"},
    {"WINDOWS-1252", "CP1252", "windows-1252"},
    {"US-ASCII", "CP1252", "windows-1252"},
    // Labels pages declare in <meta charset>, mapped to the names the web engine accepts.
    {"SHIFT-JIS", "CP932", "Shift_JIS"},
    {"SJIS", "CP932", "Shift_JIS"},
    {"X-SJIS", "CP932", "Shift_JIS"},
    {"WINDOWS-31J", "CP932", "Shift_JIS"},
    {"MS_KANJI", "CP932", "Shift_JIS"},
    {"X-GBK", "GBK", "GBK"},
    {"GB_2312-80", "GBK", "GBK"},
    {"EUC-CN", "GBK", "GBK"},
    {"WINDOWS-936", "GBK", "GBK"},
    {"BIG5-HKSCS", "BIG5-HKSCS", "Big5"},
    {"X-X-BIG5", "BIG5", "Big5"},
    {"KS_C_5601-1987", "CP949", "EUC-KR"},
    {"KS_C_5601-1989", "CP949", "EUC-KR"},
    {"WINDOWS-949", "CP949", "EUC-KR"},
    {"ISO-2022-JP", "ISO-2022-JP", "ISO-2022-JP"},
    {"WINDOWS-874", "CP874", "windows-874"},
    {"TIS-620", "CP874", "windows-874"},
    {"WINDOWS-1250", "CP1250", "windows-1250"},
    {"WINDOWS-1253", "CP1253", "windows-1253"},
    {"WINDOWS-1254", "CP1254", "windows-1254"},
    {"WINDOWS-1255", "CP1255", "windows-1255"},
    {"WINDOWS-1256", "CP1256", "windows-1256"},
    {"WINDOWS-1257", "CP1257", "windows-1257"},
    {"WINDOWS-1258", "CP1258", "windows-1258"},
    {"ISO-8859-3", "ISO-8859-3", "ISO-8859-3"},
    {"ISO-8859-4", "ISO-8859-4", "ISO-8859-4"},
    {"ISO-8859-6", "ISO-8859-6", "ISO-8859-6"},
    {"ISO-8859-8", "ISO-8859-8", "ISO-8859-8"},
    {"ISO-8859-8-I", "ISO-8859-8", "ISO-8859-8-I"},
    {"ISO-8859-10", "ISO-8859-10", "ISO-8859-10"},
    {"ISO-8859-13", "ISO-8859-13", "ISO-8859-13"},
    {"ISO-8859-14", "ISO-8859-14", "ISO-8859-14"},
    {"ISO-8859-16", "ISO-8859-16", "ISO-8859-16"},
    {"LATIN1", "ISO-8859-1", "ISO-8859-1"},
    {"ASCII", "CP1252", "windows-1252"},
    {"UTF8", "UTF-8", "UTF-8"},
    {"UTF-16", "UTF-16", "UTF-16LE"},
    {"UTF-16LE", "UTF-16LE", "UTF-16LE"},
    {"UTF-16BE", "UTF-16BE", "UTF-16BE"},
    {"MACINTOSH", "MACINTOSH", "macintosh"},
    {"X-MAC-ROMAN", "MACINTOSH", "macintosh"},
}};

const EncodingNames* find(const QString& name) {
    const QByteArray key = name.trimmed().toUpper().toLatin1();
    for (const auto& e : kEncodings) {
        if (key == e.name)
            return &e;
    }
    return nullptr;
}

struct LcidRange {
    const char* name;
    std::initializer_list<quint16> lcids;
};

const QHash<quint32, QString>& lcidTable() {
    static const QHash<quint32, QString> table = [] {
        const LcidRange ranges[] = {
            {"CP1252", {0x0403, 0x0406, 0x0407, 0x0409, 0x040B, 0x040C, 0x040F, 0x0410, 0x0413,
                        0x0414, 0x0416, 0x041D, 0x0421, 0x042D, 0x0436, 0x0438, 0x0439, 0x043C,
                        0x0441, 0x0807, 0x0809, 0x080A, 0x080C, 0x0810, 0x0813, 0x0814, 0x0816,
                        0x081D, 0x083E, 0x0C07, 0x0C09, 0x0C0A, 0x0C0C, 0x1007, 0x1009, 0x100A,
                        0x100C, 0x1407, 0x1409, 0x140A, 0x140C, 0x1809, 0x180A, 0x1C09, 0x1C0A,
                        0x2009, 0x200A, 0x2409, 0x240A, 0x2809, 0x280A, 0x2C09, 0x2C0A, 0x300A,
                        0x3409, 0x340A, 0x380A, 0x3C0A, 0x400A, 0x440A, 0x480A, 0x4C0A, 0x500A}},
            {"CP1256",
             {0x0401, 0x0420, 0x0429, 0x0801, 0x0C01, 0x1001, 0x1401, 0x1801, 0x1C01, 0x2001,
              0x2401, 0x2801, 0x2C01, 0x3001, 0x3401, 0x3801, 0x3C01, 0x4001}},
            {"CP1251",
             {0x0402, 0x0419, 0x0422, 0x0423, 0x042E, 0x043D, 0x043E, 0x0444, 0x082C, 0x0843,
              0x0C1A}},
            {"CP1250", {0x0405, 0x040E, 0x0415, 0x0418, 0x041A, 0x041B, 0x041C, 0x0424, 0x081A}},
            {"CP950", {0x0404, 0x0C04, 0x1404}},
            {"CP936", {0x0804, 0x1004}},
            {"CP932", {0x0411}},
            {"CP949", {0x0412}},
            {"CP874", {0x041E}},
            {"CP1253", {0x0408}},
            {"CP1255", {0x040D}},
            {"CP1254", {0x041F, 0x042C, 0x0443}},
            {"CP1257", {0x0425, 0x0426, 0x0427}},
            {"CP1258", {0x042A}},
        };
        QHash<quint32, QString> t;
        for (const auto& r : ranges) {
            for (quint16 id : r.lcids)
                t.insert(id, QString::fromLatin1(r.name));
        }
        return t;
    }();
    return table;
}

} // namespace

QByteArray iconvNameForEncoding(const QString& name) {
    if (const EncodingNames* e = find(name))
        return e->iconvName;
    return name.trimmed().toLatin1();
}

QByteArray webCharsetForEncoding(const QString& name) {
    if (const EncodingNames* e = find(name))
        return e->webCharset;
    return {};
}

QString encodingNameForLCID(quint32 lcid) {
    return lcidTable().value(lcid);
}

QString decodeText(const QByteArray& bytes, const QString& encodingName) {
    const QByteArray from =
        encodingName.isEmpty() ? QByteArray("UTF-8") : iconvNameForEncoding(encodingName);
    if (from.isEmpty())
        return {};
    iconv_t cd = iconv_open("UTF-8", from.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    // Every input byte becomes at most 4 output bytes in UTF-8.
    QByteArray out(bytes.size() * 4 + 4, Qt::Uninitialized);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char* dst = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    const size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    const bool ok = rc != static_cast<size_t>(-1) && inLeft == 0 &&
                    iconv(cd, nullptr, nullptr, &dst, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (!ok)
        return {};
    out.truncate(static_cast<qsizetype>(out.size() - static_cast<qsizetype>(outLeft)));
    return QString::fromUtf8(out);
}

QString repairEntityEncodedText(const QString& text, const QString& encodingName) {
    const QByteArray iconvName = iconvNameForEncoding(encodingName);
    if (iconvName.isEmpty() || iconvName == "CP1252" || iconvName == "ISO-8859-1" ||
        iconvName == "UTF-8")
        return text;
    QString latin = text;
    // libxml2 does not know these newer entity names and leaves them as text; the tools that
    // write entity-encoded sitemaps use them for 0xD0 and 0xF0.
    latin.replace(QLatin1String("&Dstrok;"), QChar(0xD0));
    latin.replace(QLatin1String("&dstrok;"), QChar(0xF0));
    bool high = false;
    for (const QChar c : latin) {
        if (c.unicode() > 0xFF)
            return text;
        high = high || c.unicode() >= 0x80;
    }
    if (!high)
        return text;
    const QString decoded = decodeText(latin.toLatin1(), encodingName);
    return decoded.isNull() ? text : decoded;
}
