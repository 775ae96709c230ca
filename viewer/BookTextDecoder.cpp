#include "BookTextDecoder.h"

#include "TextEncodingTable.h"

#include <QStringDecoder>
#include <cerrno>
#include <iconv.h>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

bool isAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80;
}

// Code pages whose non-ASCII characters take two bytes or more: after a bad lead byte, a second
// non-ASCII byte belongs to the same broken character.
bool isMultiByte(const QByteArray& iconvName) {
    static const char* const names[] = {"GBK",   "GB18030", "BIG5",      "BIG5-HKSCS",
                                        "CP932", "CP949",   "EUC-JP",    "EUC-KR",
                                        "CP936", "CP950",   "SHIFT_JIS", "EUC-CN"};
    const QByteArray upper = iconvName.toUpper();
    for (const char* n : names) {
        if (upper == n)
            return true;
    }
    return false;
}

class Iconv {
public:
    explicit Iconv(const QByteArray& from) : m_cd(iconv_open("UTF-8", from.constData())) {}
    ~Iconv() {
        if (ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

QByteArray convert(const QByteArray& bytes, const QByteArray& from, bool multiByte) {
    Iconv cd(from);
    if (!cd.ok())
        return {};
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 2 + 16);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char buffer[16384];
    while (inLeft > 0) {
        char* dst = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd.get(), &in, &inLeft, &dst, &outLeft);
        const int error = rc == static_cast<size_t>(-1) ? errno : 0;
        out.append(buffer, static_cast<qsizetype>(dst - buffer));
        if (error == 0 || error == E2BIG)
            continue;
        // Drop the converter's state with the bad sequence, then skip the sequence: its first
        // byte, and a second one only when it cannot stand for itself.
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        out.append(kReplacement);
        if (error == EINVAL) // cut off by the end of the text
            break;
        size_t skip = 1;
        const auto lead = static_cast<unsigned char>(in[0]);
        if (multiByte && inLeft >= 2 && lead >= 0x81 && lead <= 0xFE && !isAscii(in[1]))
            skip = 2;
        if (error != EILSEQ) // an error iconv does not document: give up on the rest safely
            skip = inLeft;
        in += skip;
        inLeft -= skip;
    }
    char* dst = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd.get(), nullptr, nullptr, &dst, &outLeft);
    out.append(buffer, static_cast<qsizetype>(dst - buffer));
    return out;
}

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder strict(QStringDecoder::Utf8);
    const QString ignored = strict.decode(bytes);
    return !strict.hasError();
}

} // namespace

QByteArray BookTextDecoder::toUtf8(const QByteArray& bytes, const QString& encodingName) {
    if (bytes.isEmpty())
        return QByteArray("");
    const QByteArray from =
        encodingName.trimmed().isEmpty() ? QByteArray("UTF-8") : iconvNameForEncoding(encodingName);
    QByteArray out = convert(bytes, from, isMultiByte(from));
    if (out.isNull()) // iconv does not know the name
        out = isUtf8(bytes) ? bytes : convert(bytes, "CP1252", false);
    if (out.isNull()) // no iconv converters at all: keep ASCII, replace the rest
        for (char c : bytes)
            out.append(isAscii(c) ? QByteArray(1, c) : QByteArray(kReplacement));
    return out;
}

QString BookTextDecoder::decode(const QByteArray& bytes, const QString& encodingName) {
    return QString::fromUtf8(toUtf8(bytes, encodingName));
}
