// The per-file preferences ("files info") and the window's global defaults, kept in QSettings
// (organization "Lumeno", application "Lumeno+").
//
// "files info" is one QVariantMap value: file path -> QVariantMap of that file's keys, each
// entry stamped with "updated at" (QDateTime) on every write. At most 20 files are kept; a
// write for a 21st forgets the entry with the earliest "updated at". Paths go inside a map
// value because QSettings would split a key on "/". GUI thread only (QSettings per call).
#pragma once

#include <QString>
#include <QVariant>

class CHMFilePreferences {
public:
    // The file's value for the key; an invalid QVariant as soon as a level is missing.
    static QVariant getPreferenceforFile(const QString& file, const QString& key);
    // Sets the key in the file's entry, stamps "updated at" and keeps at most 20 files.
    static void setPreference(const QVariant& value, const QString& file, const QString& key);

    // Global defaults of the window: "zoom factor" (double), "Sidebar Width" (double),
    // "search" (string). Invalid QVariant when never written.
    static QVariant globalDefault(const QString& key);
    static void setGlobalDefault(const QString& key, const QVariant& value);

    static constexpr int kMaxFiles = 20;
};
