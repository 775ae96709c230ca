#include "TextEncodingList.h"

#include "LumenoLogging.h"
#include "PlistGuard.h"
#include "TextEncodingTable.h"

#include <QFile>
#include <QtGlobal>
#include <memory>
#include <plist/plist.h>
#include <type_traits>

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// The string stored under key in a dictionary; nothing when the key is missing or no string.
std::optional<QString> stringForKey(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (!text || length > uint64_t(TextEncodingList::kMaxDataSize))
        return std::nullopt;
    return QString::fromUtf8(text, static_cast<qsizetype>(length));
}

bool hasDecoderAndWebLabel(const QString& name) {
    return !webCharsetForEncoding(name).isEmpty() && !decodeText(QByteArray("a"), name).isNull();
}

// Why an entry other than the automatic one cannot be offered; null when it can.
QString rejection(const std::optional<QString>& title, const std::optional<QString>& name) {
    if (!title || title->trimmed().isEmpty())
        return QStringLiteral("has no \"title\"");
    if (!name || name->trimmed().isEmpty())
        return QStringLiteral("has no \"name\"");
    if (!hasDecoderAndWebLabel(*name))
        return QStringLiteral("names the unknown encoding \"%1\"").arg(logSafe(*name));
    return {};
}

} // namespace

std::optional<TextEncodingList> TextEncodingList::fromData(const QByteArray& data, QString* error) {
    auto fail = [error](const QString& reason) -> std::optional<TextEncodingList> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    if (data.isEmpty())
        return fail(QStringLiteral("is empty"));
    if (data.size() > kMaxDataSize)
        return fail(QStringLiteral("is larger than %1 bytes").arg(kMaxDataSize));
    std::string refusal;
    if (!PlistGuard::isSafeToParse(data.constData(), std::size_t(data.size()), &refusal))
        return fail(QStringLiteral("is not a property list that can be read safely (%1)")
                        .arg(QString::fromStdString(refusal)));
    plist_t parsed = nullptr;
    plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &parsed);
    const PlistPtr root(parsed);
    if (!root)
        return fail(QStringLiteral("is not a property list"));
    if (plist_get_node_type(root.get()) != PLIST_ARRAY)
        return fail(QStringLiteral("has no array of groups at its root"));

    TextEncodingList list;
    const uint32_t groupCount = plist_array_get_size(root.get());
    for (uint32_t g = 0; g < groupCount; ++g) {
        plist_t groupNode = plist_array_get_item(root.get(), g);
        const bool isArray = groupNode && plist_get_node_type(groupNode) == PLIST_ARRAY;
        if (!isArray)
            qCWarning(lcEncoding, "textencoding.plist: group %u is not an array; it is left out",
                      g + 1);
        const uint32_t entryCount = isArray ? plist_array_get_size(groupNode) : 0;
        std::vector<TextEncodingEntry> group;
        for (uint32_t e = 0; e < entryCount; ++e) {
            plist_t entryNode = plist_array_get_item(groupNode, e);
            const bool isDict = entryNode && plist_get_node_type(entryNode) == PLIST_DICT;
            std::optional<QString> title, name;
            if (isDict) {
                title = stringForKey(entryNode, "title");
                name = stringForKey(entryNode, "name");
            }
            if (g == 0 && e == 0) {
                // The automatic entry: only its title matters.
                const bool titled = title && !title->trimmed().isEmpty();
                if (!titled)
                    qCWarning(lcEncoding, "textencoding.plist: the first entry has no \"title\"; "
                                          "it is shown as \"Automatic\"");
                group.push_back({titled ? *title : QStringLiteral("Automatic"), QString()});
                continue;
            }
            const QString reason =
                isDict ? rejection(title, name) : QStringLiteral("is not a dictionary");
            if (!reason.isNull()) {
                qCWarning(lcEncoding, "textencoding.plist: entry %u of group %u %s; it is left out",
                          e + 1, g + 1, qUtf8Printable(reason));
                continue;
            }
            group.push_back({*title, name->trimmed()});
        }
        if (g == 0 && group.empty()) {
            qCWarning(lcEncoding, "textencoding.plist: the first group has no automatic entry; "
                                  "\"Automatic\" stands in for it");
            group.push_back({QStringLiteral("Automatic"), QString()});
        }
        if (!group.empty()) {
            list.m_entries.insert(list.m_entries.end(), group.begin(), group.end());
            list.m_groups.push_back(std::move(group));
        }
    }
    return list;
}

std::optional<TextEncodingList> TextEncodingList::fromFile(const QString& path, QString* error) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path.isEmpty() ? QStringLiteral("is missing")
                                    : QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    if (file.size() > kMaxDataSize) {
        if (error)
            *error = QStringLiteral("is larger than %1 bytes").arg(kMaxDataSize);
        return std::nullopt;
    }
    return fromData(file.readAll(), error);
}

const TextEncodingEntry* TextEncodingList::entryForTag(int tag) const {
    if (tag < 0 || tag >= count())
        return nullptr;
    return &m_entries[static_cast<size_t>(tag)];
}

QString TextEncodingList::nameForTag(int tag) const {
    if (tag == 0)
        return {};
    const TextEncodingEntry* entry = entryForTag(tag);
    return entry ? entry->name : QString();
}

int TextEncodingList::tagForName(const QString& name) const {
    if (name.isEmpty())
        return 0;
    for (int tag = 1; tag < count(); ++tag) {
        if (m_entries[static_cast<size_t>(tag)].name.compare(name, Qt::CaseInsensitive) == 0)
            return tag;
    }
    return -1;
}
