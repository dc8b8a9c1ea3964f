// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

class QCommandLineParser;

// What every command of harvix-cli shares: exit statuses, the help option and text, and the
// report of wrong usage.
namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitNoImages = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 64;

// The usage of harvix-cli as a whole (--help without a command).
QString mainUsage();

QCommandLineOption helpOption();

// The help of one command: its usage and description, every option of its parser, its exit
// statuses. Options are listed from the parser, so a new option shows up here by itself.
QString commandHelp(const char *usage, const QList<QCommandLineOption> &options, const char *exit);

// Wrong usage: one line that says what is wrong, in the style of our own messages (lower case,
// no full stop, also for the parser's "Unknown option 'x'."), and where to look, as wget and
// curl do. Returns kExitUsage.
int usageError(QString problem);

// Parses the arguments of one command (without the program and command names). Returns an
// exit status when the command is done already (help shown, wrong usage), or -1 to go on.
int parseCommand(QCommandLineParser &parser, const QStringList &args,
                 const QList<QCommandLineOption> &options, const QString &help);

} // namespace cli
