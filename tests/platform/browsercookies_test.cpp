// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/cookies/browsercookies.h"
#include "platform/curl/curltransfer.h"

#include "support/httpserver.h"
#include "support/transfers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <sqlite3.h>

#include <algorithm>

using namespace Qt::StringLiterals;
using ::testing::HasSubstr;

namespace {

constexpr qint64 kNow = 1'700'000'000;

// A SQLite database the test writes; the connection stays open (and holds its locks) until the
// object goes, as a running browser keeps its own.
class TestDatabase {
public:
    explicit TestDatabase(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).path());
        if (sqlite3_open(QFile::encodeName(path).constData(), &m_db) != SQLITE_OK)
            ADD_FAILURE() << "cannot create " << path.toStdString();
    }
    ~TestDatabase() { sqlite3_close(m_db); }
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    void exec(const QByteArray &sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, &error) != SQLITE_OK)
            ADD_FAILURE() << error << " in " << sql.constData();
        sqlite3_free(error);
    }

private:
    sqlite3 *m_db = nullptr;
};

QByteArray text(const QByteArray &value)
{
    return '\'' + value + '\'';
}

QByteArray number(qint64 value)
{
    return QByteArray::number(value);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// ---- Firefox's cookies.sqlite as Firefox writes it: schema 14 keeps expiry in seconds,
// schema 17 (Firefox 142 on, from 16) in milliseconds.

struct FirefoxCookie {
    QByteArray originAttributes;
    QByteArray host, name, value, path;
    qint64 expiry; // seconds since the epoch
    bool secure = false;
    bool httpOnly = false;
};

void createFirefoxTable(TestDatabase &db, int schema)
{
    db.exec("PRAGMA user_version = " + number(schema));
    db.exec("CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL "
            "DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, "
            "lastAccessed INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER, "
            "inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT 0, " +
            QByteArray(schema < 16 ? "rawSameSite INTEGER DEFAULT 0, " : "") +
            "schemeMap INTEGER DEFAULT 0, isPartitionedAttributeSet INTEGER DEFAULT 0, " +
            QByteArray(schema >= 17 ? "updateTime INTEGER, " : "") +
            "CONSTRAINT moz_uniqueid UNIQUE (name, host, path, originAttributes))");
}

void insertFirefoxCookies(TestDatabase &db, int schema, const QList<FirefoxCookie> &cookies)
{
    const qint64 unit = schema >= 16 ? 1000 : 1;
    const qint64 created = (kNow - 86400) * 1000000; // microseconds
    for (const FirefoxCookie &c : cookies) {
        db.exec("INSERT INTO moz_cookies (originAttributes, name, value, host, path, expiry, "
                "lastAccessed, creationTime, isSecure, isHttpOnly, sameSite, schemeMap) VALUES (" +
                text(c.originAttributes) + ", " + text(c.name) + ", " + text(c.value) + ", " +
                text(c.host) + ", " + text(c.path) + ", " + number(c.expiry * unit) + ", " +
                number(created) + ", " + number(created) + ", " + number(c.secure) + ", " +
                number(c.httpOnly) + ", 0, 2)");
    }
}

void writeFirefoxDatabase(const QString &path, int schema, const QList<FirefoxCookie> &cookies)
{
    TestDatabase db(path);
    createFirefoxTable(db, schema);
    insertFirefoxCookies(db, schema, cookies);
}

// ---- Chromium's Cookies, schema of version 23 and 24 (the same columns; from 24 on the
// encrypted text starts with the SHA-256 of host_key).

struct ChromiumCookie {
    QByteArray host, name, value, path;
    QByteArray encrypted; // "v10..." / "v11..."; empty for a plain value
    qint64 expires;       // seconds since the epoch; 0 for a session cookie
    bool secure = false;
    bool httpOnly = false;
    QByteArray topFrameSite = {};
};

// What Chromium on Linux stores for value: scheme ("v10" or "v11") and AES-128-CBC under the
// key PBKDF2-HMAC-SHA1(password, "saltysalt", 1 iteration), IV of 16 spaces.
QByteArray encryptForChromium(const QByteArray &scheme, const QByteArray &password,
                              const QByteArray &plain)
{
    unsigned char key[16];
    const unsigned char salt[] = "saltysalt";
    PKCS5_PBKDF2_HMAC_SHA1(password.constData(), int(password.size()), salt, 9, 1, 16, key);
    const unsigned char iv[17] = "                ";
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    QByteArray cipher(plain.size() + 16, '\0');
    auto *out = reinterpret_cast<unsigned char *>(cipher.data());
    int written = 0, last = 0;
    EVP_EncryptInit_ex(context, EVP_aes_128_cbc(), nullptr, key, iv);
    EVP_EncryptUpdate(context, out, &written,
                      reinterpret_cast<const unsigned char *>(plain.constData()),
                      int(plain.size()));
    EVP_EncryptFinal_ex(context, out + written, &last);
    EVP_CIPHER_CTX_free(context);
    cipher.truncate(written + last);
    return scheme + cipher;
}

// The encrypted value of a cookie for host in a database of version.
QByteArray chromiumValue(int version, const QByteArray &scheme, const QByteArray &password,
                         const QByteArray &host, const QByteArray &value)
{
    const QByteArray hash = QCryptographicHash::hash(host, QCryptographicHash::Sha256);
    return encryptForChromium(scheme, password, version >= 24 ? hash + value : value);
}

qint64 chromiumTime(qint64 unixSeconds)
{
    return (unixSeconds + 11644473600) * 1000000;
}

void writeChromiumDatabase(const QString &path, int version, const QList<ChromiumCookie> &cookies)
{
    TestDatabase db(path);
    db.exec("CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)");
    db.exec("INSERT INTO meta VALUES('mmap_status', '-1'), ('version', '" + number(version) +
            "'), ('last_compatible_version', '" + number(version) + "')");
    db.exec("CREATE TABLE cookies(creation_utc INTEGER NOT NULL, host_key TEXT NOT NULL, "
            "top_frame_site_key TEXT NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL, "
            "encrypted_value BLOB NOT NULL, path TEXT NOT NULL, expires_utc INTEGER NOT NULL, "
            "is_secure INTEGER NOT NULL, is_httponly INTEGER NOT NULL, last_access_utc INTEGER "
            "NOT NULL, has_expires INTEGER NOT NULL, is_persistent INTEGER NOT NULL, priority "
            "INTEGER NOT NULL, samesite INTEGER NOT NULL, source_scheme INTEGER NOT NULL, "
            "source_port INTEGER NOT NULL, last_update_utc INTEGER NOT NULL, source_type INTEGER "
            "NOT NULL, has_cross_site_ancestor INTEGER NOT NULL)");
    db.exec("CREATE UNIQUE INDEX cookies_unique_index ON cookies(host_key, top_frame_site_key, "
            "has_cross_site_ancestor, name, path, source_scheme, source_port)");
    const qint64 created = chromiumTime(kNow - 86400);
    qint64 n = 0;
    for (const ChromiumCookie &c : cookies) {
        const bool persistent = c.expires != 0;
        db.exec("INSERT INTO cookies VALUES (" + number(created + ++n) + ", " + text(c.host) +
                ", " + text(c.topFrameSite) + ", " + text(c.name) + ", " + text(c.value) + ", X'" +
                c.encrypted.toHex() + "', " + text(c.path) + ", " +
                number(persistent ? chromiumTime(c.expires) : 0) + ", " + number(c.secure) + ", " +
                number(c.httpOnly) + ", " + number(created) + ", " + number(persistent) + ", " +
                number(persistent) + ", 1, -1, 2, 443, " + number(created) + ", 0, 0)");
    }
}

} // namespace

// The profile the installed Firefox uses (its [Install...] group's Default, not the older
// Default=1 one) is read while Firefox holds it: locked, with every change still in its
// write-ahead log. Expiry is read in seconds or, from schema 16 on, in milliseconds.
TEST(BrowserCookies, FirefoxDefaultProfileIsReadWhileFirefoxHoldsIt)
{
    for (const int schema : {14, 17}) {
        SCOPED_TRACE(schema);
        QTemporaryDir home;
        const QString root = home.filePath(QStringLiteral(".mozilla/firefox"));
        writeFile(root + QStringLiteral("/profiles.ini"),
                  "[Profile1]\nName=old\nIsRelative=1\nPath=old.default\nDefault=1\n\n"
                  "[Profile0]\nName=default-release\nIsRelative=1\n"
                  "Path=Profiles/ab12.default-release\n\n"
                  "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
                  "[Install4F96D1932A9F858E]\nDefault=Profiles/ab12.default-release\nLocked=1\n");
        writeFirefoxDatabase(root + QStringLiteral("/old.default/cookies.sqlite"), schema,
                             {{"", ".example.org", "old", "profile", "/", kNow + 60}});

        TestDatabase db(root + QStringLiteral("/Profiles/ab12.default-release/cookies.sqlite"));
        db.exec("PRAGMA locking_mode = EXCLUSIVE");
        db.exec("PRAGMA journal_mode = WAL");
        db.exec("PRAGMA wal_autocheckpoint = 0");
        createFirefoxTable(db, schema);
        insertFirefoxCookies(
            db, schema,
            {{"", ".example.org", "sid", "s=1", "/", kNow + 3600, true, true},
             {"", "www.example.org", "lang", "ja", "/gallery", kNow + 7200},
             {"", "example.org", "gone", "x", "/", kNow - 1},
             {"^userContextId=2", ".example.org", "sid", "container", "/", kNow + 3600},
             {"^partitionKey=%28https%2Cother.example%29", "example.org", "embed", "y", "/",
              kNow + 3600}});

        const BrowserCookiesResult result = readBrowserCookies(u"firefox"_s, home.path(), kNow);
        EXPECT_EQ(result.error, QString());
        EXPECT_EQ(
            result.lines.value_or(QList<QByteArray>{}),
            (QList<QByteArray>{
                "#HttpOnly_.example.org\tTRUE\t/\tTRUE\t" + number(kNow + 3600) + "\tsid\ts=1",
                "www.example.org\tFALSE\t/gallery\tFALSE\t" + number(kNow + 7200) + "\tlang\tja"}));
    }
}

// Plain, v10 and v11 values, in the default profile's Network folder and in a profile named on
// the command line; from version 24 on the host's hash before each value is checked and
// stripped. The keyring is asked once, for the browser's own item.
TEST(BrowserCookies, ChromiumValuesAreDecrypted)
{
    struct Case {
        int version;
        QString browser;
        QString profile; // empty for the default profile
        QString database;
        QString application;
    };
    const Case cases[] = {
        {23, u"chromium"_s, {}, u".config/chromium/Default/Network/Cookies"_s, u"chromium"_s},
        {24, u"Brave"_s, u"elsewhere/Profile 1"_s, u"elsewhere/Profile 1/Cookies"_s, u"brave"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.version);
        QTemporaryDir home;
        const auto v10 = [&](const QByteArray &host, const QByteArray &value) {
            return chromiumValue(c.version, "v10", "peanuts", host, value);
        };
        const auto v11 = [&](const QByteArray &host, const QByteArray &value) {
            return chromiumValue(c.version, "v11", "k3yring-secret", host, value);
        };
        writeChromiumDatabase(
            home.filePath(c.database), c.version,
            {{".example.org", "plain", "p=1", "/", {}, kNow + 3600, true},
             {"www.example.org",
              "fixed",
              {},
              "/img",
              v10("www.example.org", "v10 value"),
              0,
              false,
              true},
             {".example.org", "keyring", {}, "/", v11(".example.org", "v11 value"), kNow + 60},
             {"example.org", "gone", {}, "/", v10("example.org", "old"), kNow - 1},
             {"example.org",
              "embed",
              {},
              "/",
              v10("example.org", "third party"),
              kNow + 60,
              true,
              false,
              "https://other.example"}});

        QStringList asked;
        const KeyringLookup keyring = [&asked](const QString &application, QString &) {
            asked.append(application);
            return std::optional<QByteArray>("k3yring-secret");
        };
        const QString source =
            c.profile.isEmpty() ? c.browser : c.browser + u':' + home.filePath(c.profile);
        const BrowserCookiesResult result = readBrowserCookies(source, home.path(), kNow, keyring);
        EXPECT_EQ(result.error, QString());
        EXPECT_EQ(
            result.lines.value_or(QList<QByteArray>{}),
            (QList<QByteArray>{
                ".example.org\tTRUE\t/\tTRUE\t" + number(kNow + 3600) + "\tplain\tp=1",
                "#HttpOnly_www.example.org\tFALSE\t/img\tFALSE\t0\tfixed\tv10 value",
                ".example.org\tTRUE\t/\tFALSE\t" + number(kNow + 60) + "\tkeyring\tv11 value"}));
        EXPECT_EQ(asked, QStringList{c.application});
    }
}

// Each cookie goes, through libcurl's jar, only to its own host and path: "localhost" and
// "127.0.0.1" reach the same server (libcurl answers "localhost" itself, without a resolver).
TEST(BrowserCookies, TransferSendsEachCookieOnlyToItsHostAndPath)
{
    QTemporaryDir home;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    writeFirefoxDatabase(home.filePath(u"profile/cookies.sqlite"_s), 17,
                         {{"", "localhost", "name", "local", "/", now + 3600},
                          {"", "127.0.0.1", "address", "loop", "/", now + 3600, false, true},
                          {"", "127.0.0.1", "inner", "deep", "/private", now + 3600}});
    const BrowserCookiesResult cookies =
        readBrowserCookies(u"firefox:"_s + home.filePath(u"profile"_s), home.path(), now);
    ASSERT_TRUE(cookies.lines) << cookies.error.toStdString();

    TestHttpServer server;
    server.server().Get(".*", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    server.start();
    CurlTransfer transfer;
    transfer.addCookies(*cookies.lines);
    const auto sent = [&](const QString &host, const QString &path) {
        QStringList list =
            openText(
                transfer,
                QStringLiteral("http://%1:%2%3").arg(host, QString::number(server.port()), path))
                .split(u"; "_s, Qt::SkipEmptyParts);
        list.sort();
        return list;
    };
    EXPECT_EQ(sent(u"localhost"_s, u"/"_s), QStringList{u"name=local"_s});
    EXPECT_EQ(sent(u"127.0.0.1"_s, u"/"_s), QStringList{u"address=loop"_s});
    EXPECT_EQ(sent(u"127.0.0.1"_s, u"/private/page"_s),
              (QStringList{u"address=loop"_s, u"inner=deep"_s}));
}

TEST(BrowserCookies, FailuresNameTheirCause)
{
    QTemporaryDir home;
    writeFile(home.filePath(u"broken/Cookies"_s), "this is not a database");
    writeChromiumDatabase(home.filePath(u"keyring/Cookies"_s), 24,
                          {{".example.org",
                            "sid",
                            {},
                            "/",
                            chromiumValue(24, "v11", "secret", ".example.org", "x"),
                            kNow + 60}});
    writeFirefoxDatabase(home.filePath(u"stale/cookies.sqlite"_s), 17,
                         {{"", ".example.org", "sid", "x", "/", kNow - 60}});
    const KeyringLookup noKeyring = [](const QString &, QString &error) {
        error = u"no keyring on this desktop"_s;
        return std::optional<QByteArray>();
    };
    const struct {
        QString source;
        std::string cause;
    } cases[] = {
        {u"opera"_s, "unknown browser \"opera\""},
        {u"firefox"_s, "profiles.ini cannot be read"},
        {u"chromium:"_s + home.filePath(u"missing"_s),
         "folder " + home.filePath(u"missing"_s).toStdString() + " does not exist"},
        {u"chrome:"_s + home.filePath(u"broken"_s),
         "cannot read the cookie database " + home.filePath(u"broken/Cookies"_s).toStdString() +
             ": file is not a database"},
        {u"chromium:"_s + home.filePath(u"keyring"_s),
         "\"Chromium Safe Storage\" password from the desktop keyring, which cannot be had: no "
         "keyring on this desktop"},
        {u"firefox:"_s + home.filePath(u"stale"_s), "holds no cookie that has not expired"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        const BrowserCookiesResult result =
            readBrowserCookies(c.source, home.path(), kNow, noKeyring);
        EXPECT_FALSE(result.lines);
        EXPECT_THAT(result.error.toStdString(), HasSubstr(c.cause));
    }
}
