#include "CHMFilePreferences.h"

#include <QDateTime>
#include <QSettings>
#include <QVariantMap>
#include <optional>

namespace {

const QString kFilesInfo = QStringLiteral("files info");
const QString kUpdatedAt = QStringLiteral("updated at");

QSettings settings() {
    return QSettings(QStringLiteral("Lumeno"), QStringLiteral("Lumeno+"));
}

// The path of the entry to forget: the earliest "updated at" in key order, the first of equal
// dates; an entry without a readable date counts as the earliest. `keep` (the file just
// written) is never chosen: a clock set back must not make a write forget itself.
std::optional<QString> oldestEntry(const QVariantMap& filesInfo, const QString& keep) {
    std::optional<QString> oldest;
    QDateTime oldestDate;
    for (auto it = filesInfo.cbegin(); it != filesInfo.cend(); ++it) {
        if (it.key() == keep)
            continue;
        const QDateTime date = it.value().toMap().value(kUpdatedAt).toDateTime();
        if (!oldest || !date.isValid() || date < oldestDate) {
            oldest = it.key();
            oldestDate = date;
            if (!date.isValid())
                break; // nothing is earlier than an entry without a date
        }
    }
    return oldest;
}

bool isDoubleDefault(const QString& key) {
    return key == QLatin1String("zoom factor") || key == QLatin1String("Sidebar Width");
}

} // namespace

QVariant CHMFilePreferences::getPreferenceforFile(const QString& file, const QString& key) {
    const QVariantMap filesInfo = settings().value(kFilesInfo).toMap();
    const auto entry = filesInfo.constFind(file);
    if (entry == filesInfo.cend())
        return {};
    return entry->toMap().value(key);
}

void CHMFilePreferences::setPreference(const QVariant& value, const QString& file,
                                       const QString& key) {
    QSettings store = settings();
    QVariantMap filesInfo = store.value(kFilesInfo).toMap();
    QVariantMap entry = filesInfo.value(file).toMap();
    // No value means no preference: the key goes rather than holding an empty variant.
    if (value.isValid())
        entry.insert(key, value);
    else
        entry.remove(key);
    entry.insert(kUpdatedAt, QDateTime::currentDateTime());
    filesInfo.insert(file, entry);
    while (filesInfo.size() > kMaxFiles) {
        const std::optional<QString> oldest = oldestEntry(filesInfo, file);
        if (!oldest)
            break;
        filesInfo.remove(*oldest);
    }
    store.setValue(kFilesInfo, filesInfo);
}

QVariant CHMFilePreferences::globalDefault(const QString& key) {
    const QVariant stored = settings().value(key);
    if (!stored.isValid())
        return {};
    // The settings file keeps numbers as text; the window wants them as numbers.
    if (isDoubleDefault(key)) {
        bool ok = false;
        const double number = stored.toDouble(&ok);
        return ok ? QVariant(number) : QVariant();
    }
    if (key == QLatin1String("search"))
        return stored.toString();
    return stored;
}

void CHMFilePreferences::setGlobalDefault(const QString& key, const QVariant& value) {
    QSettings store = settings();
    if (value.isValid())
        store.setValue(key, value);
    else
        store.remove(key);
}
