#include "BookmarkURLStore.h"

#include "FileIdentity.h"
#include "LumenoLogging.h"
#include "PlistGuard.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

constexpr const char* kURLData = "URLData";
constexpr const char* kRefCount = "RefCount";

enum class ReadState { Missing, Unreadable, Read };

// The whole list; a new dictionary when it is missing or does not read as one.
PlistPtr readList(const QString& path, ReadState* state) {
    QFile file(path);
    if (!file.exists()) {
        *state = ReadState::Missing;
        return PlistPtr(plist_new_dict());
    }
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    plist_t parsed = nullptr;
    // libplist recurses without a limit and copies shared objects: a hostile list would exhaust
    // the stack or the memory. One the guard refuses is unreadable like any damaged list.
    std::string refusal;
    if (!PlistGuard::isSafeToParse(bytes.constData(), std::size_t(bytes.size()), &refusal))
        qCWarning(lcBookmarks) << "refused" << path << QString::fromStdString(refusal);
    else if (bytes.size() < std::numeric_limits<uint32_t>::max())
        plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &parsed);
    PlistPtr root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        *state = ReadState::Unreadable;
        return PlistPtr(plist_new_dict());
    }
    *state = ReadState::Read;
    return root;
}

bool writeList(const QString& path, plist_t root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    if (!xml)
        return false;
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(xml, length) == static_cast<qint64>(length) && file.commit();
    plist_to_xml_free(xml);
    if (!written)
        qCWarning(lcBookmarks) << "cannot write" << path << file.errorString();
    return written;
}

qint64 refCount(plist_t entry) {
    plist_t count = entry ? plist_dict_get_item(entry, kRefCount) : nullptr;
    if (!count)
        return 0;
    if (plist_get_node_type(count) == PLIST_UINT) {
        uint64_t value = 0;
        plist_get_uint_val(count, &value);
        return value > static_cast<uint64_t>(std::numeric_limits<qint64>::max())
                   ? std::numeric_limits<qint64>::max()
                   : static_cast<qint64>(value);
    }
    return 0;
}

plist_t entryFor(plist_t root, const QString& path) {
    plist_t entry = plist_dict_get_item(root, path.toUtf8().constData());
    return entry && plist_get_node_type(entry) == PLIST_DICT ? entry : nullptr;
}

} // namespace

BookmarkURLStore::BookmarkURLStore(QString folder) : m_folder(std::move(folder)) {}

QString BookmarkURLStore::plistPath() const {
    return m_folder + QLatin1Char('/') + fileName();
}

void BookmarkURLStore::AddURLSecurity(const QString& path) {
    if (path.isEmpty() || !QDir().mkpath(m_folder))
        return;
    const QString listPath = plistPath();
    ReadState state = ReadState::Missing;
    PlistPtr root = readList(listPath, &state);
    if (state == ReadState::Unreadable) {
        const QString aside = listPath + QStringLiteral(".unreadable");
        QFile::remove(aside);
        QFile::rename(listPath, aside);
        qCWarning(lcBookmarks) << "unreadable" << listPath << "kept as" << aside;
    }
    const QByteArray key = path.toUtf8();
    if (plist_t entry = entryFor(root.get(), path)) {
        plist_dict_set_item(entry, kRefCount, plist_new_uint(refCount(entry) + 1));
        writeList(listPath, root.get());
        return;
    }
    plist_t entry = plist_new_dict();
    const QByteArray data = FileIdentity::bookmarkData(path);
    if (!data.isEmpty()) {
        plist_dict_set_item(entry, kURLData, plist_new_data(data.constData(), data.size()));
        plist_dict_set_item(entry, kRefCount, plist_new_uint(1));
    }
    plist_dict_set_item(root.get(), key.constData(), entry);
    writeList(listPath, root.get());
}

void BookmarkURLStore::RemoveURLSecurity(const QString& path) {
    const QString listPath = plistPath();
    ReadState state = ReadState::Missing;
    PlistPtr root = readList(listPath, &state);
    if (state != ReadState::Read)
        return;
    plist_t entry = entryFor(root.get(), path);
    const qint64 count = refCount(entry);
    if (count < 2)
        plist_dict_remove_item(root.get(), path.toUtf8().constData());
    else
        plist_dict_set_item(entry, kRefCount, plist_new_uint(count - 1));
    writeList(listPath, root.get());
}

QString BookmarkURLStore::GetURLSecurity(const QString& path) {
    const QString listPath = plistPath();
    ReadState state = ReadState::Missing;
    PlistPtr root = readList(listPath, &state);
    if (state != ReadState::Read)
        return QString();
    plist_t entry = entryFor(root.get(), path);
    plist_t data = entry ? plist_dict_get_item(entry, kURLData) : nullptr;
    if (!data || plist_get_node_type(data) != PLIST_DATA)
        return QString();
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(data, &length);
    if (!bytes || length > 1 << 20)
        return QString();
    bool stale = false;
    bool moved = false;
    const QString resolved =
        FileIdentity::resolve(QByteArray(bytes, static_cast<qsizetype>(length)), &stale, &moved);
    if (stale)
        qCDebug(lcBookmarks) << "bookmarked file changed since it was bookmarked:"
                             << logSafe(resolved);
    if (moved && resolved != path) {
        // The entry follows the file, so that later saves and removals count under its name.
        const QByteArray fresh = FileIdentity::bookmarkData(resolved);
        plist_t target = entryFor(root.get(), resolved);
        const qint64 count = refCount(entry) + refCount(target);
        plist_t moving = plist_new_dict();
        if (!fresh.isEmpty())
            plist_dict_set_item(moving, kURLData, plist_new_data(fresh.constData(), fresh.size()));
        plist_dict_set_item(moving, kRefCount, plist_new_uint(uint64_t(count)));
        plist_dict_set_item(root.get(), resolved.toUtf8().constData(), moving);
        plist_dict_remove_item(root.get(), path.toUtf8().constData());
        qCInfo(lcBookmarks) << "bookmarked file renamed in its folder:" << logSafe(path) << "->"
                            << logSafe(resolved);
        writeList(listPath, root.get());
    }
    return resolved;
}
