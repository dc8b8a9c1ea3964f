// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Reads the bytes of Help.txt (CP932) line by line: a line ends at CR LF or at a lone CR, while a
// lone LF stays inside its line. Returns every line followed by CR LF, the last one included
// even when the file does not end with a line end; an empty file gives an empty text.
QString helpTextFromCp932(const QByteArray &bytes);

// Reads Help.txt from programFolder (which ends with "/") as helpTextFromCp932 does. Nothing
// when the file cannot be opened or read.
std::optional<QString> readHelpFile(const QString &programFolder);
