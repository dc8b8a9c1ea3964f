// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/pswdfile.h"

#include "platform/codepage.h"
#include "platform/filewriter.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>

namespace {

// Texts shared by reading and writing.
QString notFoundText()
{
    return QStringLiteral("ファイルが見つかりません。");
}
QString noAccessText()
{
    return QStringLiteral("ファイルにアクセスできません。");
}

} // namespace

namespace pswdfile {

QString userFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/harvix/");
}

QString readPath(const QString &userFolder, const QString &programFolder)
{
    const QString own = userFolder + fileName();
    const QString carriedOver = programFolder + fileName();
    if (!QFileInfo::exists(own) && QFileInfo::exists(carriedOver))
        return carriedOver;
    return own;
}

QByteArray encode(const QStringList &lines)
{
    QByteArray bytes;
    for (const auto &line : lines)
        bytes += codepage::toCp932(line) + "\r\n";
    return bytes;
}

void write(const QString &path, const QStringList &lines)
{
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    createFolders(QFileInfo(path).path(), ownerOnly | QFileDevice::ExeOwner);
    writeFileAtomically(path, encode(lines), ownerOnly, WriteMode::Durable);
}

QString unstorableValueText(const QString &field, const QString &value)
{
    const bool control = std::any_of(value.cbegin(), value.cend(),
                                     [](QChar c) { return c.category() == QChar::Other_Control; });
    if (control)
        return QStringLiteral("「%1」に改行などの制御文字が含まれています。入力し直してください。")
            .arg(field);
    if (!codepage::survivesCp932(value))
        return QStringLiteral("「%1」に使えない文字が含まれています。Shift_JIS (CP932) "
                              "にない文字 (絵文字など) を除いて入力し直してください。")
            .arg(field);
    return {};
}

QString writeErrorText(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("書き込み先のフォルダーが見つかりません。");
    case EACCES:
    case EPERM:
        return noAccessText();
    case EROFS:
        return QStringLiteral("書き込み禁止のディスクです。");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("ディスクの空き領域が足りません。");
    case EIO:
        return QStringLiteral("ディスクの読み書き中にエラーが発生しました。");
    default:
        return QStringLiteral("ファイルに書き込めません (エラー番号 %1)。").arg(error);
    }
}

} // namespace pswdfile

PswdReader::PswdReader(const QString &path) : m_file(path) {}

bool PswdReader::open()
{
    if (m_file.isOpen())
        m_file.close();
    if (m_file.open(QIODevice::ReadOnly))
        return true;
    const QFileInfo info(m_file.fileName());
    if (!info.exists())
        m_error = notFoundText();
    else if (!info.isReadable())
        m_error = noAccessText();
    else
        m_error = QStringLiteral("ファイルを開けません。");
    return false;
}

bool PswdReader::readLine(QString *line)
{
    if (!m_file.isOpen()) {
        m_error = QStringLiteral("ファイルが開かれていません。");
        return false;
    }
    if (m_file.atEnd()) {
        m_error = QStringLiteral("ファイルの終わりを超えて読み込もうとしました。");
        return false;
    }
    QByteArray bytes;
    char c = 0;
    while (m_file.getChar(&c)) {
        if (c == '\n')
            break;
        if (c == '\r') {
            char next = 0;
            if (m_file.peek(&next, 1) == 1 && next == '\n')
                m_file.getChar(&next);
            break;
        }
        bytes += c;
    }
    if (m_file.error() != QFileDevice::NoError) {
        m_error = QStringLiteral("ファイルを読み込めません。");
        return false;
    }
    *line = codepage::fromCp932(bytes);
    return true;
}

void PswdReader::close()
{
    m_file.close();
}
