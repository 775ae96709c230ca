// One prepared SQLite statement, finalised when it goes. Binding and reading use Qt types; text
// is UTF-8 in the database. A statement that failed to prepare reports false from every step and
// keeps the database's message in error(). Not copyable; used on the thread of its connection.
#pragma once

#include <QString>
#include <QtGlobal>

struct sqlite3;
struct sqlite3_stmt;

class SqlStatement {
public:
    SqlStatement(sqlite3* db, const char* sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    bool isValid() const { return m_stmt != nullptr; }
    // Parameters count from 1, as in SQLite. A null QString binds NULL.
    SqlStatement& bind(int index, const QString& text);
    SqlStatement& bind(int index, qint64 value);
    SqlStatement& bindNull(int index);

    // Steps once: true while a row is there. After the last row (or a failure) false; ok()
    // then tells which of the two it was.
    bool next();
    // Runs a statement that returns no rows; true when it completed.
    bool exec();
    bool ok() const { return m_ok; }
    QString error() const { return m_error; }

    QString text(int column) const;
    qint64 integer(int column) const;
    bool isNull(int column) const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_ok = true;
    QString m_error;
};
