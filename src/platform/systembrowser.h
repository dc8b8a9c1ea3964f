// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/programlauncher.h"

#include <QCoro/QCoroTask>
#include <QProcessEnvironment>
#include <QStringList>

#include <chrono>
#include <functional>

// The command line of a desktop entry's Exec key (its [Desktop Entry] group) without the field
// codes that stand for files or addresses (%u, %U, %f...), so that it starts the program with
// no page. Empty when the file cannot be read or has no Exec.
QStringList desktopEntryCommand(const QString &path);

// How long xdg-settings is given to name the default browser. It answers at once; a hung one
// is not waited for longer.
inline constexpr std::chrono::milliseconds defaultBrowserTimeout{3000};

// The command that starts the desktop's default web browser without a page: the Exec of the
// desktop entry that "xdg-settings get default-web-browser" names, looked up in the applications
// folders. Empty when there is none, or when xdg-settings has not answered within timeout; it
// is then killed, and the task ends once it has gone.
QCoro::Task<QStringList>
defaultBrowserCommand(std::chrono::milliseconds timeout = defaultBrowserTimeout);

// How the launch finds the command of the desktop's default browser.
using DefaultBrowserLookup = std::function<QCoro::Task<QStringList>()>;

// Starts the system web browser without a page: the first command of $BROWSER (a ":"-separated
// list) that starts, else x-www-browser, else the desktop's default web browser (defaultBrowser
// gives its command). Each is started with ProgramLauncher::startWatched, so one that fails at
// once counts as not started. Gives the process id, or 0 when no browser could be started,
// with the reason the last one tried did not start. The event loop runs while the task waits;
// launcher must outlive it.
QCoro::Task<ProgramStart> launchSystemBrowser(
    ProgramLauncher &launcher, QProcessEnvironment env = QProcessEnvironment::systemEnvironment(),
    DefaultBrowserLookup defaultBrowser = [] { return defaultBrowserCommand(); });
