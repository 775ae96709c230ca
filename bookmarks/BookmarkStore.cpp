#include "BookmarkStore.h"

#include "LumenoLogging.h"
#include "SqlStatement.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <sqlite3.h>

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

const char* const kTables[] = {"file", "bookmark", "tag", "bookmark_tag"};

QString refusal(const QString& path, const QString& reason) {
    return QObject::tr("The bookmark library “%1” cannot be opened: %2. The file has been left "
                       "as it is; bookmarks cannot be added or shown until it is repaired or "
                       "moved away.")
        .arg(QDir::toNativeSeparators(path), reason);
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

    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<BookmarkStore> store(new BookmarkStore(db, path));
    if (rc != SQLITE_OK)
        return fail(db ? QString::fromUtf8(sqlite3_errmsg(db))
                       : QString::fromUtf8(sqlite3_errstr(rc)));
    if (sqlite3_db_readonly(db, "main") == 1)
        return fail(QObject::tr("it cannot be written"));
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    QString reason;
    if (!store->prepareSchema(&reason))
        return fail(reason);
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
    SqlStatement tableQuery(m_db, "SELECT name FROM sqlite_master WHERE type = 'table'");
    QStringList tables;
    while (tableQuery.next())
        tables << tableQuery.text(0);
    if (!tableQuery.ok()) {
        *reason = tableQuery.error();
        return false;
    }

    if (version > kSchemaVersion) {
        *reason =
            QObject::tr("it was written by a newer version of Lumeno+ (schema %1)").arg(version);
        return false;
    }
    if (version == kSchemaVersion) {
        for (const char* table : kTables) {
            if (!tables.contains(QLatin1String(table))) {
                *reason = QObject::tr("its table “%1” is missing").arg(QLatin1String(table));
                return false;
            }
        }
        return true;
    }
    // Version 0: a new file takes the schema; a database of some other program stays untouched.
    if (!tables.isEmpty()) {
        *reason = QObject::tr("it is a database of another kind");
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
