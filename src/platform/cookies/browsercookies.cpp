// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/cookies/browsercookies.h"

#include "platform/browsersession.h"
#include "platform/cookies/chromiumcrypto.h"
#include "platform/cookies/cookiedatabase.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>

using namespace Qt::StringLiterals;

namespace {

BrowserCookiesResult failure(const QString &error)
{
    return {std::nullopt, error};
}

// Whether a field can stand in a line of tab-separated fields.
bool fitsAField(const QByteArray &field)
{
    for (const char c : field) {
        if (c == '\t' || c == '\n' || c == '\r' || c == '\0')
            return false;
    }
    return true;
}

// Keeps a cookie that has not expired and whose fields fit a line.
void take(QList<QByteArray> &lines, const BrowserCookie &cookie, qint64 now)
{
    if (cookie.expires != 0 && cookie.expires <= now)
        return;
    if (cookie.domain.isEmpty() || cookie.name.isEmpty() || !fitsAField(cookie.domain) ||
        !fitsAField(cookie.path) || !fitsAField(cookie.name) || !fitsAField(cookie.value))
        return;
    lines.append(netscapeLine(cookie, cookie.expires));
}

BrowserCookiesResult noCookie(const QString &database, const QString &why = {})
{
    return failure(QStringLiteral("the cookie database %1 holds no cookie that has not expired%2")
                       .arg(database, why));
}

// ---- Firefox

// The groups of an ini file, in order, each with its keys.
QList<std::pair<QString, QHash<QString, QString>>> readIni(const QByteArray &content)
{
    QList<std::pair<QString, QHash<QString, QString>>> groups;
    for (const QByteArray &raw : content.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[') && line.endsWith(u']'))
            groups.append({line.sliced(1, line.size() - 2), {}});
        else if (const qsizetype equals = line.indexOf(u'='); equals > 0 && !groups.isEmpty())
            groups.last().second.insert(line.first(equals).trimmed(),
                                        line.sliced(equals + 1).trimmed());
    }
    return groups;
}

// The profile folder the installed Firefox starts with: the Default of an [Install...] group
// (Firefox 67 on keeps one default per installation), else the profile marked Default=1.
std::optional<QString> firefoxDefaultProfile(const QString &home, QString &error)
{
    const QString root = home + QStringLiteral("/.mozilla/firefox");
    const QString iniPath = root + QStringLiteral("/profiles.ini");
    QFile ini(iniPath);
    if (!ini.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("no Firefox profile: %1 cannot be read (%2)")
                    .arg(iniPath, ini.errorString());
        return std::nullopt;
    }
    const auto groups = readIni(ini.readAll());
    for (const auto &[name, keys] : groups) {
        if (name.startsWith(QStringLiteral("Install")) && !keys.value(u"Default"_s).isEmpty())
            return QDir(root).filePath(keys.value(u"Default"_s));
    }
    for (const auto &[name, keys] : groups) {
        if (name.startsWith(QStringLiteral("Profile")) && keys.value(u"Default"_s) == u"1"_s &&
            !keys.value(u"Path"_s).isEmpty()) {
            const QString path = keys.value(u"Path"_s);
            return keys.value(u"IsRelative"_s) == u"1"_s ? QDir(root).filePath(path) : path;
        }
    }
    error = QStringLiteral("no Firefox profile: %1 names no default profile").arg(iniPath);
    return std::nullopt;
}

// Opens the database at path and reads the number that query gives (its schema's version):
// false, with error set, when either fails.
bool openReadingNumber(CookieDatabase &db, const QString &path, const char *query, qint64 &number,
                       QString &error)
{
    return db.open(path, error) &&
           db.query(
               query,
               [&number](const CookieDatabase::Row &row) { number = row.bytes(0).toLongLong(); },
               error);
}

BrowserCookiesResult readFirefox(const QString &profile, qint64 now)
{
    const QString path = profile + QStringLiteral("/cookies.sqlite");
    if (!QFileInfo::exists(path))
        return failure(QStringLiteral("the Firefox profile %1 has no cookies.sqlite").arg(profile));
    CookieDatabase db;
    QString error;
    // Firefox 142 (schema 16) started keeping expiry in milliseconds instead of seconds.
    qint64 schema = 0;
    if (!openReadingNumber(db, path, "PRAGMA user_version", schema, error))
        return failure(error);
    QList<QByteArray> lines;
    // Cookies of a container or partitioned under another site carry origin attributes.
    const bool read = db.query(
        "SELECT host, path, name, value, isSecure, isHttpOnly, expiry "
        "FROM moz_cookies WHERE originAttributes = '' ORDER BY id",
        [&](const CookieDatabase::Row &row) {
            BrowserCookie cookie;
            cookie.domain = row.bytes(0);
            cookie.path = row.bytes(1);
            cookie.name = row.bytes(2);
            cookie.value = row.bytes(3);
            cookie.secure = row.integer(4) != 0;
            cookie.httpOnly = row.integer(5) != 0;
            const qint64 expiry = row.integer(6);
            // Rounded up, so a cookie still valid now is not dropped.
            cookie.expires = schema >= 16 ? (expiry + 999) / 1000 : expiry;
            if (cookie.expires > 0)
                take(lines, cookie, now);
        },
        error);
    if (!read)
        return failure(error);
    if (lines.isEmpty())
        return noCookie(path);
    return {lines, {}};
}

// ---- Chromium and the browsers built on it

struct ChromiumBrowser {
    QString name;        // for messages
    QString configPath;  // the browser's folder under ~/.config
    QString application; // the keyring item's application attribute
    QString keyringItem; // the keyring item's label
};

const QHash<QString, ChromiumBrowser> &chromiumBrowsers()
{
    static const QHash<QString, ChromiumBrowser> browsers{
        {u"chromium"_s, {u"Chromium"_s, u"chromium"_s, u"chromium"_s, u"Chromium Safe Storage"_s}},
        {u"chrome"_s, {u"Chrome"_s, u"google-chrome"_s, u"chrome"_s, u"Chrome Safe Storage"_s}},
        {u"brave"_s,
         {u"Brave"_s, u"BraveSoftware/Brave-Browser"_s, u"brave"_s, u"Brave Safe Storage"_s}},
    };
    return browsers;
}

// Microseconds since 1601-01-01 (Windows' file time, which Chromium keeps on every system) to
// seconds since 1970-01-01, rounded up.
qint64 chromiumTimeToUnix(qint64 microseconds)
{
    constexpr qint64 secondsFrom1601To1970 = 11644473600;
    return (microseconds + 999999) / 1000000 - secondsFrom1601To1970;
}

BrowserCookiesResult readChromium(const ChromiumBrowser &browser, const QString &profile,
                                  qint64 now, const KeyringLookup &keyring)
{
    // Chromium 96 moved the database into the profile's Network folder.
    QString path = profile + QStringLiteral("/Network/Cookies");
    if (!QFileInfo::exists(path))
        path = profile + QStringLiteral("/Cookies");
    if (!QFileInfo::exists(path))
        return failure(
            QStringLiteral("the %1 profile %2 has no Cookies database").arg(browser.name, profile));
    CookieDatabase db;
    QString error;
    // From version 24 on, the value encrypted is the SHA-256 of the host followed by the value.
    qint64 version = 0;
    if (!openReadingNumber(db, path, "SELECT value FROM meta WHERE key = 'version'", version,
                           error))
        return failure(error);

    const QByteArray fixedKey = chromiumCookieKey("peanuts");
    std::optional<QByteArray> keyringKey;
    QString keyringError;
    qsizetype undecrypted = 0;
    QList<QByteArray> lines;
    // A cookie with a top-frame site is partitioned: it belongs to that site's frames only.
    const bool read = db.query(
        "SELECT host_key, path, name, value, encrypted_value, is_secure, is_httponly, "
        "expires_utc, has_expires FROM cookies WHERE top_frame_site_key = '' ORDER BY rowid",
        [&](const CookieDatabase::Row &row) {
            if (!keyringError.isEmpty())
                return;
            BrowserCookie cookie;
            cookie.domain = row.bytes(0);
            cookie.path = row.bytes(1);
            cookie.name = row.bytes(2);
            cookie.value = row.bytes(3);
            cookie.secure = row.integer(5) != 0;
            cookie.httpOnly = row.integer(6) != 0;
            cookie.expires = row.integer(8) != 0 ? chromiumTimeToUnix(row.integer(7)) : 0;
            if (cookie.expires < 0 || (cookie.expires != 0 && cookie.expires <= now))
                return;
            const QByteArray encrypted = row.bytes(4);
            if (cookie.value.isEmpty() && !encrypted.isEmpty()) {
                const QByteArray scheme = encrypted.first(qMin(encrypted.size(), qsizetype(3)));
                const QByteArray *key = nullptr;
                if (scheme == "v10") {
                    key = &fixedKey;
                } else if (scheme == "v11") {
                    if (!keyringKey) {
                        QString why;
                        const auto password = keyring(browser.application, why);
                        if (!password) {
                            keyringError = why;
                            return;
                        }
                        keyringKey = chromiumCookieKey(*password);
                    }
                    key = &*keyringKey;
                }
                std::optional<QByteArray> plain;
                if (key)
                    plain = decryptChromiumCookie(encrypted.sliced(3), *key);
                if (plain && version >= 24) {
                    if (!plain->startsWith(
                            QCryptographicHash::hash(cookie.domain, QCryptographicHash::Sha256)))
                        plain.reset();
                    else
                        plain->remove(0, 32);
                }
                if (!plain) {
                    ++undecrypted;
                    return;
                }
                cookie.value = *plain;
            }
            take(lines, cookie, now);
        },
        error);
    if (!read)
        return failure(error);
    if (!keyringError.isEmpty())
        return failure(QStringLiteral("%1 encrypts cookies in %2 with the \"%3\" password from "
                                      "the desktop keyring, which cannot be had: %4")
                           .arg(browser.name, path, browser.keyringItem, keyringError));
    if (lines.isEmpty())
        return noCookie(
            path,
            undecrypted == 0
                ? QString()
                : QStringLiteral(" (%1 could not be decrypted)").arg(QString::number(undecrypted)));
    return {lines, {}};
}

} // namespace

BrowserCookiesResult readBrowserCookies(const QString &source, const QString &home, qint64 now,
                                        const KeyringLookup &keyring)
{
    const qsizetype colon = source.indexOf(u':');
    const QString browser = (colon < 0 ? source : source.first(colon)).toLower();
    QString profile = colon < 0 ? QString() : source.sliced(colon + 1);

    const bool firefox = browser == u"firefox"_s;
    const auto chromium = chromiumBrowsers().constFind(browser);
    if (!firefox && chromium == chromiumBrowsers().cend())
        return failure(QStringLiteral("unknown browser \"%1\" (firefox, chromium, chrome or brave)")
                           .arg(browser));
    const QString name = firefox ? u"Firefox"_s : chromium->name;
    if (profile.isEmpty()) {
        if (firefox) {
            QString error;
            const auto found = firefoxDefaultProfile(home, error);
            if (!found)
                return failure(error);
            profile = *found;
        } else {
            profile = home + QStringLiteral("/.config/") + chromium->configPath +
                      QStringLiteral("/Default");
        }
    }
    if (!QFileInfo(profile).isDir())
        return failure(
            QStringLiteral("the %1 profile folder %2 does not exist").arg(name, profile));
    return firefox ? readFirefox(profile, now) : readChromium(*chromium, profile, now, keyring);
}
