#include "BookmarkStore.h"

#include "LumenoLogging.h"
#include "SqlStatement.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace {

// Another program (or a second reader) writing the same library waits this long at most.
constexpr int kBusyTimeoutMs = 3000;

const char* const kSchema[] = {
    "CREATE TABLE file ("
    " id INTEGER PRIMARY KEY,"
    " path TEXT NOT NULL UNIQUE,"
    " title TEXT NOT NULL DEFAULT '',"
    " is_valid INTEGER NOT NULL DEFAULT 1)",
    "CREATE TABLE bookmark ("
    " id INTEGER PRIMARY KEY,"
    " url TEXT NOT NULL,"
    " title TEXT NOT NULL DEFAULT '',"
    " created_at INTEGER NOT NULL,"
    " file_id INTEGER REFERENCES file(id) ON DELETE CASCADE,"
    " UNIQUE (file_id, url))",
    "CREATE TABLE tag ("
    " id INTEGER PRIMARY KEY,"
    " tag TEXT NOT NULL UNIQUE)",
    "CREATE TABLE bookmark_tag ("
    " bookmark_id INTEGER NOT NULL REFERENCES bookmark(id) ON DELETE CASCADE,"
    " tag_id INTEGER NOT NULL REFERENCES tag(id) ON DELETE CASCADE,"
    " PRIMARY KEY (bookmark_id, tag_id))",
    "CREATE INDEX bookmark_created ON bookmark(created_at)",
    "CREATE INDEX bookmark_tag_by_tag ON bookmark_tag(tag_id)",
};

// What sqlite_schema says of every object: a store is ours only when this is exactly the list
// that kSchema makes, so no trigger, view, table or index of someone else's runs or is trusted.
constexpr const char* kSchemaQuery = "SELECT type, name, tbl_name, coalesce(sql, '') "
                                     "FROM sqlite_schema ORDER BY type, name";

QStringList schemaObjects(sqlite3* db, QString* error) {
    SqlStatement query(db, kSchemaQuery);
    QStringList objects;
    while (query.next()) {
        objects << query.text(0) + QLatin1Char('\x1f') + query.text(1) + QLatin1Char('\x1f') +
                       query.text(2) + QLatin1Char('\x1f') + query.text(3);
    }
    if (!query.ok() && error)
        *error = query.error();
    return query.ok() ? objects : QStringList();
}

// The objects a store of ours holds, read back from an in-memory database made with kSchema, so
// that SQLite's own naming of the implicit indexes is what is compared.
const QStringList& expectedObjects() {
    static const QStringList objects = [] {
        sqlite3* db = nullptr;
        QStringList made;
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
            bool ok = true;
            for (const char* sql : kSchema)
                ok = ok && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
            if (ok)
                made = schemaObjects(db, nullptr);
        }
        sqlite3_close_v2(db);
        return made;
    }();
    return objects;
}

QString objectDescription(const QString& row) {
    const QStringList parts = row.split(QLatin1Char('\x1f'));
    return parts.size() >= 2 ? QStringLiteral("%1 “%2”").arg(parts[0], parts[1]) : row;
}

QString refusal(const QString& path, const QString& reason) {
    return QObject::tr("The bookmark library “%1” cannot be opened: %2. The file has been left "
                       "as it is; bookmarks cannot be added or shown until it is repaired or "
                       "moved away.")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString readOnlyNotice(const QString& path, const QString& reason) {
    return QObject::tr("The bookmark library “%1” cannot be changed: %2. Its bookmarks are "
                       "shown, but none can be added or removed until it can be written again.")
        .arg(QDir::toNativeSeparators(path), reason);
}

// Whether this process may create files in the folder, judged by the effective user and
// capabilities (as the writes themselves will be).
bool writableByUs(const QString& folder) {
    return ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK, AT_EACCESS) == 0;
}

} // namespace

QString BookmarkStore::applicationSupportFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return QString();
    return data + QStringLiteral("/Lumeno");
}

BookmarkStore::BookmarkStore(sqlite3* db, QString path) : m_db(db), m_path(std::move(path)) {}

BookmarkStore::~BookmarkStore() {
    sqlite3_close_v2(m_db);
}

std::unique_ptr<BookmarkStore> BookmarkStore::open(const QString& path, QString* error) {
    auto fail = [&](const QString& reason) {
        if (error)
            *error = refusal(path, reason);
        qCWarning(lcBookmarks) << "bookmark store refused:" << path << reason;
        return std::unique_ptr<BookmarkStore>();
    };
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QObject::tr("its folder cannot be created"));
    if (info.exists() && !info.isFile())
        return fail(QObject::tr("it is not a file"));

    // SQLite itself falls back to reading a file it may not write. A folder that cannot be
    // written takes no journal, so such a store is opened for reading only from the start.
    const QByteArray encoded = QFile::encodeName(path);
    QString readOnly;
    if (!writableByUs(info.absolutePath()))
        readOnly = QObject::tr("its folder is read-only");
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(encoded.constData(), &db,
                                   readOnly.isEmpty() ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                                      : SQLITE_OPEN_READONLY,
                                   nullptr);
    std::unique_ptr<BookmarkStore> store(new BookmarkStore(db, path));
    if (rc != SQLITE_OK)
        return fail(db ? QString::fromUtf8(sqlite3_errmsg(db))
                       : QString::fromUtf8(sqlite3_errstr(rc)));
    if (readOnly.isEmpty() && sqlite3_db_readonly(db, "main") == 1)
        readOnly = QObject::tr("the file is read-only");
    // Before anything reads the schema: SQL in a file made elsewhere must not be able to call
    // functions with side effects or alter the file's structure behind the library's back.
    if (sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr) != SQLITE_OK ||
        sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr) != SQLITE_OK)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (!readOnly.isEmpty())
        store->m_readOnlyMessage = readOnlyNotice(path, readOnly);
    QString reason;
    if (!store->prepareSchema(&reason))
        return fail(reason);
    if (store->isReadOnly())
        qCWarning(lcBookmarks) << "bookmark store opened read-only:" << path << readOnly;
    return store;
}

bool BookmarkStore::run(const char* sql) {
    SqlStatement statement(m_db, sql);
    if (!statement.exec()) {
        m_lastError = statement.error();
        return false;
    }
    return true;
}

bool BookmarkStore::prepareSchema(QString* reason) {
    // Reading the header is the first access: a file that is no database fails here, unwritten.
    {
        SqlStatement check(m_db, "PRAGMA quick_check");
        if (!check.next()) {
            *reason = check.ok() ? QObject::tr("its integrity check answered nothing")
                                 : QObject::tr("it is damaged or not a bookmark library (%1)")
                                       .arg(check.error());
            return false;
        }
        if (check.text(0) != QLatin1String("ok")) {
            *reason = QObject::tr("it is damaged (%1)").arg(check.text(0));
            return false;
        }
    }
    if (!run("PRAGMA foreign_keys = ON")) {
        *reason = m_lastError;
        return false;
    }
    SqlStatement versionQuery(m_db, "PRAGMA user_version");
    if (!versionQuery.next()) {
        *reason = versionQuery.error();
        return false;
    }
    const qint64 version = versionQuery.integer(0);
    QString schemaError;
    const QStringList objects = schemaObjects(m_db, &schemaError);
    if (!schemaError.isEmpty()) {
        *reason = QObject::tr("it is damaged or not a bookmark library (%1)").arg(schemaError);
        return false;
    }

    if (version > kSchemaVersion) {
        *reason =
            QObject::tr("it was written by a newer version of Lumeno+ (schema %1)").arg(version);
        return false;
    }
    if (version == kSchemaVersion) {
        const QStringList& expected = expectedObjects();
        if (expected.isEmpty()) {
            *reason = QObject::tr("its structure cannot be checked");
            return false;
        }
        for (const QString& object : expected) {
            if (!objects.contains(object)) {
                *reason = QObject::tr("its %1 is missing or not as Lumeno+ made it")
                              .arg(objectDescription(object));
                return false;
            }
        }
        for (const QString& object : objects) {
            if (!expected.contains(object)) {
                *reason = QObject::tr("it holds something Lumeno+ did not make: the %1")
                              .arg(objectDescription(object));
                return false;
            }
        }
        return true;
    }
    // Version 0: a new file takes the schema; a database of some other program stays untouched.
    if (!objects.isEmpty()) {
        *reason = QObject::tr("it is a database of another kind");
        return false;
    }
    if (isReadOnly()) {
        *reason = QObject::tr("it cannot be written");
        return false;
    }
    const bool created = transaction([this] {
        for (const char* sql : kSchema) {
            if (!run(sql))
                return false;
        }
        return run("PRAGMA user_version = 1");
    });
    if (!created)
        *reason = QObject::tr("its tables cannot be created (%1)").arg(m_lastError);
    return created;
}

bool BookmarkStore::transaction(const std::function<bool()>& work) {
    if (isReadOnly()) {
        m_lastError = m_readOnlyMessage;
        return false;
    }
    const QByteArray name = "change" + QByteArray::number(m_depth);
    if (!run(QByteArray("SAVEPOINT " + name).constData()))
        return false;
    ++m_depth;
    bool done = work();
    --m_depth;
    if (done)
        done = run(QByteArray("RELEASE " + name).constData());
    if (!done) {
        const QString reason = m_lastError;
        run(QByteArray("ROLLBACK TO " + name).constData());
        run(QByteArray("RELEASE " + name).constData());
        m_lastError = reason;
        if (m_depth == 0)
            qCWarning(lcBookmarks) << "bookmark change rolled back:" << reason;
    }
    return done;
}
