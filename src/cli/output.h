// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdio>

// harvix-cli's one way of writing to the terminal: text in UTF-8.
void writeText(std::FILE *file, const QString &text);
// One line of text followed by a line break; the text is made terminalSafe.
void writeLine(std::FILE *file, const QString &text);

// The exit status once everything is written: status, or 2 when standard output could not take
// all that was written to it (a closed descriptor, a full disk, a reader that went away), which
// standard error then says, when it can.
int outputChecked(int status);

// Text (a file name, an address, a cause) as it may go to a terminal: control characters (C0,
// DEL, C1), line and paragraph separators and the marks and overrides of bidirectional text,
// which would move the cursor, recolour or reorder what the terminal shows, are written as
// escapes ("\x1B", "\u202E"). The file on disk keeps its name.
QString terminalSafe(const QString &text);
