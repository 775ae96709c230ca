#include "CHMMetadataReader.h"

#include "BookTextDecoder.h"
#include "ByteReader.h"
#include "TextEncodingTable.h"

#include <unordered_set>

namespace {

// The longest title or path read from the metadata, in bytes. A path is a file name inside the
// book, which the help compiler takes from a Windows path (at most 260 characters); a title is a
// window caption of a line. 4 KiB leaves room for any real one in any code page, and keeps a
// string of megabytes (which only a crafted file writes) from costing more than that to scan and
// decode. A longer string is read up to this length.
constexpr quint64 kMaxStringBytes = 4096;
// What the window entries' strings may cost together. A book has a few windows of four short
// strings; a crafted one may have hundreds of thousands of entries, each pointing at another
// long string. The walk ends once this much has been read.
constexpr quint64 kMaxWindowStringBytes = 1u << 20;

// Windows paths in the metadata use backslashes; the container's names use slashes.
QString asContainerPath(const QString& s) {
    QString out = s;
    out.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return out;
}

// The NUL-terminated string at `at`, ending at `end` when the NUL is missing and after
// kMaxStringBytes at most; decoded in the given encoding (UTF-8 when none), bad bytes replaced.
// Null when out of range.
// `scanned` (optional) is raised by the bytes looked at.
QString stringAt(const QByteArray& bytes, quint64 at, quint64 end, const QString& encoding,
                 quint64* scanned = nullptr) {
    end = std::min<quint64>(end, static_cast<quint64>(bytes.size()));
    if (at >= end)
        return {};
    end = std::min<quint64>(end, at + kMaxStringBytes);
    const char* begin = bytes.constData() + at;
    const char* stop = std::find(begin, bytes.constData() + end, '\0');
    if (scanned)
        *scanned += static_cast<quint64>(stop - begin) + 1;
    return BookTextDecoder::decode(QByteArray(begin, stop - begin), encoding);
}

void fillIfEmpty(QString* field, const QString& value) {
    if (field->isEmpty() && !value.isEmpty())
        *field = value;
}

QString trimmedTitle(const QString& s) {
    return s.trimmed();
}

} // namespace

CHMMetadataReader::CHMMetadataReader(ContentFn content, ExistFn exist)
    : m_content(std::move(content)), m_exist(std::move(exist)) {}

void CHMMetadataReader::readWindows(const QByteArray& windows, const QByteArray& strings,
                                    CHMMetadata* meta, quint64* stringsDecoded) {
    const ByteReader w(windows);
    quint32 count = 0, entrySize = 0;
    if (!w.u32(0, &count) || !w.u32(4, &entrySize) || entrySize == 0)
        return;
    const quint64 stringsEnd = static_cast<quint64>(strings.size());
    // Entries may all point at one string, and one that leaves its field empty (a title of
    // blanks) would be read again for every entry: remember, per field, the offsets that gave
    // nothing. Only those are kept, so what is remembered stays a set of numbers.
    std::unordered_set<quint32> gaveNothing[4];
    quint64 scanned = 0;
    for (quint64 i = 0; i < count && scanned < kMaxWindowStringBytes; ++i) {
        const quint64 entry = 8 + i * entrySize;
        if (!w.contains(entry, entrySize))
            break; // the count claims more entries than the object holds
        const auto fill = [&](int slot, quint64 at, QString* target, bool isTitle) {
            quint32 offset = 0;
            if (!target->isEmpty() || at + 4 > entrySize || !w.u32(entry + at, &offset) ||
                gaveNothing[slot].count(offset) != 0)
                return;
            if (stringsDecoded)
                ++*stringsDecoded;
            const QString text =
                stringAt(strings, offset, stringsEnd, meta->encodingName, &scanned);
            fillIfEmpty(target, isTitle ? trimmedTitle(text) : asContainerPath(text));
            if (target->isEmpty())
                gaveNothing[slot].insert(offset);
        };
        fill(0, 0x14, &meta->title, true);
        fill(1, 0x60, &meta->tocPath, false);
        fill(2, 0x64, &meta->indexPath, false);
        fill(3, 0x68, &meta->homePath, false);
    }
}

void CHMMetadataReader::readSystem(const QByteArray& system, const ExistFn& exist,
                                   CHMMetadata* meta) {
    const ByteReader s(system);
    const auto size = static_cast<quint64>(system.size());
    for (quint64 at = 4; at + 4 <= size;) {
        quint16 code = 0, length = 0;
        s.u16(at, &code);
        s.u16(at + 2, &length);
        const quint64 data = at + 4;
        const quint64 end = std::min<quint64>(data + length, size); // a record cut off ends here
        const auto text = [&] { return stringAt(system, data, end, meta->encodingName); };
        switch (code) {
        case 0:
            if (meta->tocPath.isEmpty())
                fillIfEmpty(&meta->tocPath, asContainerPath(text()));
            break;
        case 1:
            if (meta->indexPath.isEmpty())
                fillIfEmpty(&meta->indexPath, asContainerPath(text()));
            break;
        case 2:
            if (meta->homePath.isEmpty())
                fillIfEmpty(&meta->homePath, asContainerPath(text()));
            break;
        case 3:
            if (meta->title.isEmpty())
                fillIfEmpty(&meta->title, trimmedTitle(text()));
            break;
        case 4: {
            quint32 lcid = 0;
            if (end - data >= 4 && s.u32(data, &lcid))
                meta->encodingName = encodingNameForLCID(lcid);
            else
                meta->encodingName.clear();
            break;
        }
        case 6: {
            // The base name is a Windows path like the other records' paths.
            const QString base = asContainerPath(text());
            if (base.isEmpty() || !exist)
                break;
            const QString toc = QStringLiteral("/%1.hhc").arg(base);
            if (meta->tocPath.isEmpty() && exist(toc))
                meta->tocPath = toc;
            const QString index = QStringLiteral("/%1.hhk").arg(base);
            if (meta->indexPath.isEmpty() && exist(index))
                meta->indexPath = index;
            break;
        }
        default:
            break;
        }
        at = data + length;
    }
}

QString CHMMetadataReader::languageEncoding(const QByteArray& system, const QString& fallback) {
    const ByteReader s(system);
    QString encoding = fallback;
    for (quint64 at = 4; at + 4 <= static_cast<quint64>(system.size());) {
        quint16 code = 0, length = 0;
        s.u16(at, &code);
        s.u16(at + 2, &length);
        quint32 lcid = 0;
        if (code == 4)
            encoding = length >= 4 && s.u32(at + 4, &lcid) ? encodingNameForLCID(lcid) : QString();
        at += 4 + static_cast<quint64>(length);
    }
    return encoding;
}

bool CHMMetadataReader::read(CHMMetadata* meta) const {
    const QByteArray system = m_content(QStringLiteral("/#SYSTEM"));
    meta->hasSystemFile = !system.isNull();
    // The window strings come first but are written in the file's language, which only
    // "/#SYSTEM" names: learn it before decoding anything, or non-Latin titles are lost and a
    // later, lesser title ("Remote URL") wins.
    meta->encodingName = languageEncoding(system, meta->encodingName);

    const QByteArray windows = m_content(QStringLiteral("/#WINDOWS"));
    const QByteArray strings = m_content(QStringLiteral("/#STRINGS"));
    if (!windows.isNull() && !strings.isNull())
        readWindows(windows, strings, meta);

    if (meta->hasSystemFile)
        readSystem(system, m_exist, meta);
    if (meta->title.isEmpty())
        meta->title = QString();
    return meta->hasSystemFile;
}
