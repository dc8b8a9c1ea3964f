// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

// Pswd.dat: the remembered entry name, user name, password and the flag "ON" — or four lines
// "OFF" — as CP932 text lines that end with CR LF.
namespace pswdfile {

inline QString fileName()
{
    return QStringLiteral("Pswd.dat");
}
inline QString flagOn()
{
    return QStringLiteral("ON");
}
inline QString flagOff()
{
    return QStringLiteral("OFF");
}

// The folder of the user's own Pswd.dat, $XDG_CONFIG_HOME/harvix/ (~/.config/harvix/), ending
// with "/". The file belongs to the user: the program folder of an installed copy is not
// writable by its users, and one file there would share one password between them.
QString userFolder();

// The Pswd.dat to read: the user's own file, or, while that does not exist, one that stands in
// the program folder (carried over from an older copy). Writes always go to the user's file.
QString readPath(const QString &userFolder, const QString &programFolder);

QByteArray encode(const QStringList &lines);

// Replaces the file as a whole, readable and writable by its owner only (the password stands in
// it as typed), and flushed to the disk before it takes the old file's place: it is small and
// nothing can fetch it again. Missing folders on the way are created for the owner only (0700).
// Throws FileWriteError.
void write(const QString &path, const QStringList &lines);

// Why a typed value (the entry name, user name or password, shown to the user as field) cannot
// go into Pswd.dat or a dial record unchanged, in Japanese; empty when it can. Both store CP932
// lines: a character CP932 lacks would be stored as another one (the user would dial a
// different password), and a line break would split the file's lines.
QString unstorableValueText(const QString &field, const QString &value);

// One line in Japanese that tells why a write failed, from the errno of the failing call.
QString writeErrorText(int error);

} // namespace pswdfile

// Reads Pswd.dat one step at a time, so that a failing step can be retried or skipped.
// Each step returns false on failure and error() then describes it in one line.
class PswdReader {
public:
    explicit PswdReader(const QString &path);

    bool open();
    // Reads one line without its line end (CR LF, LF or CR). Unlike the help text's reader
    // (help/helptext.h), which keeps a lone LF inside its line as the file stands, a lone LF
    // ends a line here: Pswd.dat may have been written by hand with a Linux editor, and only
    // its four separate lines decide whether the credentials are restored.
    bool readLine(QString *line);
    void close();
    QString error() const { return m_error; }

private:
    QFile m_file;
    QString m_error;
};
