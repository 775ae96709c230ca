#include "SqlStatement.h"

#include <sqlite3.h>

SqlStatement::SqlStatement(sqlite3* db, const char* sql) : m_db(db) {
    if (!db) {
        m_ok = false;
        m_error = QStringLiteral("no database");
        return;
    }
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        m_ok = false;
        m_error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

SqlStatement::~SqlStatement() {
    sqlite3_finalize(m_stmt);
}

SqlStatement& SqlStatement::bind(int index, const QString& text) {
    if (!m_stmt)
        return *this;
    if (text.isNull())
        return bindNull(index);
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

SqlStatement& SqlStatement::bind(int index, qint64 value) {
    if (m_stmt)
        sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

SqlStatement& SqlStatement::bindNull(int index) {
    if (m_stmt)
        sqlite3_bind_null(m_stmt, index);
    return *this;
}

bool SqlStatement::next() {
    if (!m_stmt || !m_ok)
        return false;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE) {
        m_ok = false;
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
    }
    return false;
}

bool SqlStatement::exec() {
    while (next()) {
    }
    return m_ok;
}

QString SqlStatement::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    if (!bytes)
        return QString();
    return QString::fromUtf8(bytes, sqlite3_column_bytes(m_stmt, column));
}

qint64 SqlStatement::integer(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

bool SqlStatement::isNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}
