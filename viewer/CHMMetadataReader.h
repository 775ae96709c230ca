// Reads the title, home page, sitemap paths and language of a container from its internal
// files "/#WINDOWS", "/#STRINGS" and "/#SYSTEM". Every offset, length and count read from them
// is checked against the bytes actually present; a string without its NUL ends at its record's
// (or its file's) end, and none is read beyond 4 KiB. Pure: it reads objects only through the
// callbacks it is given.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

struct CHMMetadata {
    QString title;
    QString homePath;
    QString tocPath;
    QString indexPath;
    QString encodingName;
    bool hasSystemFile = false;
};

class CHMMetadataReader {
public:
    using ContentFn = std::function<QByteArray(const QString& path)>;
    using ExistFn = std::function<bool(const QString& path)>;

    CHMMetadataReader(ContentFn content, ExistFn exist);

    // Fills `meta` (only fields still empty, but the encoding, which every language record
    // overwrites). False when there is no "/#SYSTEM".
    bool read(CHMMetadata* meta) const;

    // Parses the two window-definition objects alone. A string offset that left a field empty
    // is not decoded again for that field; `stringsDecoded` (optional) is raised by one for
    // every string decoded.
    static void readWindows(const QByteArray& windows, const QByteArray& strings, CHMMetadata* meta,
                            quint64* stringsDecoded = nullptr);
    // Parses a "/#SYSTEM" object alone; `exist` answers for the base-name sitemaps.
    static void readSystem(const QByteArray& system, const ExistFn& exist, CHMMetadata* meta);

    // The encoding the file's last language record names (`fallback` when it has none).
    static QString languageEncoding(const QByteArray& system, const QString& fallback);

private:
    ContentFn m_content;
    ExistFn m_exist;
};
