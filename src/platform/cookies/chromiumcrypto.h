// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <optional>

// How Chromium-based browsers on Linux encrypt cookie values: AES-128-CBC with PKCS#7 padding
// and an IV of 16 spaces, under a key made from a password by PBKDF2-HMAC-SHA1 with the salt
// "saltysalt" and one iteration. Values starting with "v10" use the fixed password "peanuts",
// values starting with "v11" the password kept in the desktop keyring.

// The 16-byte key made from password.
QByteArray chromiumCookieKey(const QByteArray &password);
// The plain text of cipher (without its "v10"/"v11" prefix) under key; nothing when it does
// not decrypt (a wrong key, cut data).
std::optional<QByteArray> decryptChromiumCookie(const QByteArray &cipher, const QByteArray &key);
