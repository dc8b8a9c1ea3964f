// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcessEnvironment>

class ProgramLauncher;

// The shell script that starts the desktop's default web browser without a page.
QString defaultBrowserScript();

// Starts the system web browser without a page and without waiting for it: the first
// command of $BROWSER (a ":"-separated list) that starts, else x-www-browser, else the
// desktop's default web browser (from xdg-settings) through a small shell script.
// Returns the process id, or 0 when no browser could be started; callers report nothing.
qint64
launchSystemBrowser(ProgramLauncher &launcher,
                    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());
