#include "CHMMetadataReader.h"

#include "BookTextDecoder.h"
#include "ByteReader.h"
#include "TextEncodingTable.h"

namespace {

// Windows paths in the metadata use backslashes; the container's names use slashes.
QString asContainerPath(const QString& s) {
    QString out = s;
    out.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return out;
}

// The NUL-terminated string at `at`, ending at `end` when the NUL is missing; decoded in the
// given encoding (UTF-8 when none), bad bytes replaced. Null when out of range.
QString stringAt(const QByteArray& bytes, quint64 at, quint64 end, const QString& encoding) {
    end = std::min<quint64>(end, static_cast<quint64>(bytes.size()));
    if (at >= end)
        return {};
    const char* begin = bytes.constData() + at;
    const char* stop = std::find(begin, bytes.constData() + end, '\0');
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
                                    CHMMetadata* meta) {
    const ByteReader w(windows);
    quint32 count = 0, entrySize = 0;
    if (!w.u32(0, &count) || !w.u32(4, &entrySize) || entrySize == 0)
        return;
    const quint64 stringsEnd = static_cast<quint64>(strings.size());
    for (quint64 i = 0; i < count; ++i) {
        const quint64 entry = 8 + i * entrySize;
        if (!w.contains(entry, entrySize))
            break; // the count claims more entries than the object holds
        const auto field = [&](quint64 at) -> QString {
            quint32 offset = 0;
            if (at + 4 > entrySize || !w.u32(entry + at, &offset))
                return {};
            return stringAt(strings, offset, stringsEnd, meta->encodingName);
        };
        if (meta->title.isEmpty())
            fillIfEmpty(&meta->title, trimmedTitle(field(0x14)));
        if (meta->tocPath.isEmpty())
            fillIfEmpty(&meta->tocPath, asContainerPath(field(0x60)));
        if (meta->indexPath.isEmpty())
            fillIfEmpty(&meta->indexPath, asContainerPath(field(0x64)));
        if (meta->homePath.isEmpty())
            fillIfEmpty(&meta->homePath, asContainerPath(field(0x68)));
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
