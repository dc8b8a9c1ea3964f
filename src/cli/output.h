// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdio>

// harvix-cli's one way of writing to the terminal: text in UTF-8, as it stands.
void writeText(std::FILE *file, const QString &text);
// The same followed by a line break.
void writeLine(std::FILE *file, const QString &text);
