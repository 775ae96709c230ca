#include "BookmarkTestSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <linux/capability.h>
#include <memory>
#include <plist/plist.h>
#include <sqlite3.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace bookmarktest {

QString freshFolder() {
    const QString path = testsupport::scratchDir() + "/" +
                         QUuid::createUuid().toString(QUuid::WithoutBraces) + "/Lumeno";
    QDir().mkpath(path);
    return path;
}

namespace {
struct Connection {
    sqlite3* db = nullptr;
    explicit Connection(const QString& path) {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~Connection() { sqlite3_close_v2(db); }
};
} // namespace

bool execSql(const QString& databasePath, const QString& sql) {
    Connection connection(databasePath);
    return sqlite3_exec(connection.db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) ==
           SQLITE_OK;
}

QStringList querySql(const QString& databasePath, const QString& sql) {
    Connection connection(databasePath);
    QStringList rows;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection.db, sql.toUtf8().constData(), -1, &statement, nullptr) !=
        SQLITE_OK)
        return {"error: " + QString::fromUtf8(sqlite3_errmsg(connection.db))};
    while (sqlite3_step(statement) == SQLITE_ROW) {
        QStringList columns;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
            columns << (text ? QString::fromUtf8(text) : QStringLiteral("NULL"));
        }
        rows << columns.join('|');
    }
    sqlite3_finalize(statement);
    return rows;
}

QString copyFixture(const QString& fixture, const QString& folder, const QString& fileName) {
    const QString target = folder + "/" + fileName;
    QFile::remove(target);
    QFile::copy(testsupport::fixturePath(fixture), target);
    return target;
}

int plistRefCount(const QString& plistPath, const QString& path, bool* hasData) {
    if (hasData)
        *hasData = false;
    const QByteArray bytes = testsupport::readWholeFile(plistPath);
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return -1;
    plist_t entry = plist_dict_get_item(root, path.toUtf8().constData());
    if (!entry)
        return -1;
    if (hasData)
        *hasData = plist_dict_get_item(entry, "URLData") != nullptr;
    plist_t count = plist_dict_get_item(entry, "RefCount");
    uint64_t value = 0;
    if (count)
        plist_get_uint_val(count, &value);
    return static_cast<int>(value);
}

namespace {
bool capabilities(__user_cap_data_struct (&data)[2], bool set) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}
constexpr unsigned kOverride = 1u << CAP_DAC_OVERRIDE;
} // namespace

PermissionBitsApply::PermissionBitsApply() {
    __user_cap_data_struct data[2]{};
    if (!capabilities(data, false))
        return;
    if (!(data[0].effective & kOverride)) {
        m_active = true;
        return;
    }
    data[0].effective &= ~kOverride;
    m_active = m_restore = capabilities(data, true);
}

PermissionBitsApply::~PermissionBitsApply() {
    __user_cap_data_struct data[2]{};
    if (m_restore && capabilities(data, false)) {
        data[0].effective |= kOverride;
        capabilities(data, true);
    }
}

} // namespace bookmarktest
