// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcessEnvironment>
#include <QStringList>

#include <functional>

class ProgramLauncher;

// The command line of a desktop entry's Exec key (its [Desktop Entry] group) without the field
// codes that stand for files or addresses (%u, %U, %f...), so that it starts the program with
// no page. Empty when the file cannot be read or has no Exec.
QStringList desktopEntryCommand(const QString &path);

// The command that starts the desktop's default web browser without a page: the Exec of the
// desktop entry that "xdg-settings get default-web-browser" names, looked up in the applications
// folders. Empty when there is none.
QStringList defaultBrowserCommand();

// Starts the system web browser without a page and without waiting for it: the first
// command of $BROWSER (a ":"-separated list) that starts, else x-www-browser, else the
// desktop's default web browser (defaultBrowser gives its command). Returns the process id,
// or 0 when no browser could be started.
qint64
launchSystemBrowser(ProgramLauncher &launcher,
                    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                    const std::function<QStringList()> &defaultBrowser = defaultBrowserCommand);
