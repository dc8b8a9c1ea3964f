// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

// A browser's SQLite cookie database, read from a copy in a private temporary folder: the
// browser may hold the file open and locked while it runs, and changes it has not yet folded
// into the file sit in its write-ahead log or journal, which are copied along. The copy is
// removed with this object.
class CookieDatabase {
public:
    CookieDatabase() = default;
    ~CookieDatabase();
    CookieDatabase(const CookieDatabase &) = delete;
    CookieDatabase &operator=(const CookieDatabase &) = delete;

    // One result row of query().
    class Row {
    public:
        explicit Row(sqlite3_stmt *statement) : m_statement(statement) {}
        QByteArray bytes(int column) const;
        qint64 integer(int column) const;

    private:
        sqlite3_stmt *m_statement;
    };

    // Copies the database at path and opens the copy. False with the cause in error.
    bool open(const QString &path, QString &error);
    // Runs sql and hands each row to row. False with the cause in error.
    bool query(const char *sql, const std::function<void(const Row &)> &row, QString &error);

private:
    bool fail(QString &error, const QString &cause) const;

    QString m_path;
    QTemporaryDir m_copyFolder;
    sqlite3 *m_db = nullptr;
};
