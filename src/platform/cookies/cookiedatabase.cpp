// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/cookies/cookiedatabase.h"

#include <QFile>

#include <sqlite3.h>

CookieDatabase::~CookieDatabase()
{
    sqlite3_close(m_db);
}

QByteArray CookieDatabase::Row::bytes(int column) const
{
    const void *data = sqlite3_column_blob(m_statement, column);
    return QByteArray(static_cast<const char *>(data), sqlite3_column_bytes(m_statement, column));
}

qint64 CookieDatabase::Row::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

bool CookieDatabase::fail(QString &error, const QString &cause) const
{
    error = QStringLiteral("cannot read the cookie database %1: %2").arg(m_path, cause);
    return false;
}

bool CookieDatabase::open(const QString &path, QString &error)
{
    m_path = path;
    if (!m_copyFolder.isValid())
        return fail(error, QStringLiteral("no temporary folder for its copy: ") +
                               m_copyFolder.errorString());
    const QString copy = m_copyFolder.filePath(QStringLiteral("cookies"));
    QFile original(path);
    if (!original.copy(copy))
        return fail(error, original.errorString());
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (QFile::exists(path + suffix) && !QFile::copy(path + suffix, copy + suffix))
            return fail(error, QStringLiteral("its %1 file cannot be copied").arg(suffix));
    }
    // Read and write: the copy is ours, and SQLite folds a copied log into it when it opens.
    const int opened =
        sqlite3_open_v2(QFile::encodeName(copy).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (opened != SQLITE_OK)
        return fail(error, QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(opened)));
    return true;
}

bool CookieDatabase::query(const char *sql, const std::function<void(const Row &)> &row,
                           QString &error)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return fail(error, QString::fromUtf8(sqlite3_errmsg(m_db)));
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW)
        row(Row(statement));
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE)
        return fail(error, QString::fromUtf8(sqlite3_errmsg(m_db)));
    return true;
}
