#include <xapian.h>

#include "CHMSearchIndexLanguage.h"

#include "ByteReader.h"

#include <array>
#include <utility>

namespace {

// Windows primary language identifiers (the low ten bits of an LCID) and Xapian's stemmers.
constexpr std::array<std::pair<quint16, const char*>, 24> kStemmers{{
    {0x01, "arabic"},     {0x03, "catalan"},    {0x06, "danish"},     {0x07, "german"},
    {0x09, "english"},    {0x0A, "spanish"},    {0x0B, "finnish"},    {0x0C, "french"},
    {0x0E, "hungarian"},  {0x10, "italian"},    {0x13, "dutch"},      {0x14, "norwegian"},
    {0x16, "portuguese"}, {0x18, "romanian"},   {0x19, "russian"},    {0x1D, "swedish"},
    {0x1F, "turkish"},    {0x21, "indonesian"}, {0x27, "lithuanian"}, {0x2B, "armenian"},
    {0x2D, "basque"},     {0x3C, "irish"},      {0x49, "tamil"},      {0x61, "nepali"},
}};

} // namespace

std::optional<quint32> CHMSearchIndexLanguage::lcidOfSystem(const QByteArray& system) {
    const ByteReader s(system);
    std::optional<quint32> lcid;
    // A version word, then records of a code, a length and that many bytes.
    for (quint64 at = 4; at + 4 <= static_cast<quint64>(system.size());) {
        quint16 code = 0, length = 0;
        s.u16(at, &code);
        s.u16(at + 2, &length);
        quint32 value = 0;
        if (code == 4)
            lcid =
                length >= 4 && s.u32(at + 4, &value) ? std::optional<quint32>(value) : std::nullopt;
        at += 4 + static_cast<quint64>(length);
    }
    return lcid;
}

QString CHMSearchIndexLanguage::stemmerForLCID(quint32 lcid) {
    const quint16 primary = static_cast<quint16>(lcid & 0x3FF);
    for (const auto& [language, stemmer] : kStemmers) {
        if (language != primary)
            continue;
        // Only what this Xapian really has: older ones lack some of these.
        try {
            Xapian::Stem probe(stemmer);
            return QString::fromLatin1(stemmer);
        } catch (const Xapian::Error&) {
            return {};
        }
    }
    return {};
}
