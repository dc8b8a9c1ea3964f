// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The password a Chromium-based browser keeps in the desktop keyring to encrypt its cookies
// (the "Chromium Safe Storage" item and its kind), read through the Secret Service with
// libsecret. application is the item's "application" attribute: "chromium", "chrome",
// "brave". libsecret is opened when first needed, so the program runs without it; when it is
// missing, the keyring cannot be reached or holds no such item, gives nothing and says why in
// error.
std::optional<QByteArray> secretServicePassword(const QString &application, QString &error);
