#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "CHMMetadataReader.h"

#include <QByteArray>
#include <array>

namespace {

const std::array<const char*, 6> kEncodings = {"",      "CP936", "CP1251",
                                               "CP932", "UTF-8", "no-such-encoding"};

quint32 readLength(const uint8_t* data) {
    return static_cast<quint32>(data[0]) | static_cast<quint32>(data[1]) << 8 |
           static_cast<quint32>(data[2]) << 16 | static_cast<quint32>(data[3]) << 24;
}

// Takes up to `wanted` bytes from the front of [*at, end).
QByteArray take(const uint8_t** at, const uint8_t* end, quint64 wanted) {
    const auto length = std::min<quint64>(wanted, static_cast<quint64>(end - *at));
    QByteArray part(reinterpret_cast<const char*>(*at), static_cast<qsizetype>(length));
    *at += length;
    return part;
}

// What the reader writes into the metadata comes from NUL-terminated strings, titles are
// trimmed, paths use slashes.
void checkMetadata(const CHMMetadata& meta) {
    for (const QString* s : {&meta.title, &meta.homePath, &meta.tocPath, &meta.indexPath})
        fuzz::check(!s->contains(QChar(u'\0')), "a metadata string holds a NUL");
    fuzz::check(meta.title == meta.title.trimmed(), "the title is not trimmed");
    for (const QString* s : {&meta.homePath, &meta.tocPath, &meta.indexPath})
        fuzz::check(!s->contains(u'\\'), "a metadata path holds a backslash");
}

} // namespace

namespace fuzz {

int fuzzMetadata(const uint8_t* data, size_t size) {
    if (size < 9)
        return 0;
    const uint8_t flags = data[0];
    const quint32 systemLength = readLength(data + 1);
    const quint32 windowsLength = readLength(data + 5);
    const uint8_t* at = data + 9;
    const uint8_t* end = data + size;
    QByteArray system = take(&at, end, systemLength);
    QByteArray windows = take(&at, end, windowsLength);
    QByteArray strings = take(&at, end, static_cast<quint64>(end - at));
    // An object the file lacks reads as a null array, unlike an empty one.
    if (flags & 0x02)
        system = QByteArray();
    if (flags & 0x04)
        windows = QByteArray();
    if (flags & 0x08)
        strings = QByteArray();
    const bool everyPathExists = flags & 0x01;
    const QString encoding = QString::fromLatin1(kEncodings[((flags >> 4) & 0x07) % 6]);
    const auto exist = [everyPathExists](const QString&) { return everyPathExists; };

    CHMMetadata parts;
    parts.encodingName = encoding;
    CHMMetadataReader::readWindows(windows, strings, &parts);
    CHMMetadataReader::readSystem(system, exist, &parts);
    checkMetadata(parts);
    CHMMetadataReader::languageEncoding(system, encoding);

    CHMMetadata whole;
    whole.encodingName = encoding;
    const CHMMetadataReader reader(
        [&](const QString& path) -> QByteArray {
            if (path == QLatin1String("/#SYSTEM"))
                return system;
            if (path == QLatin1String("/#WINDOWS"))
                return windows;
            if (path == QLatin1String("/#STRINGS"))
                return strings;
            return {};
        },
        exist);
    const bool hasSystem = reader.read(&whole);
    check(hasSystem == !system.isNull(), "read() misreports whether /#SYSTEM exists");
    checkMetadata(whole);
    return 0;
}

} // namespace fuzz
