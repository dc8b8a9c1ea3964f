// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/systembrowser.h"

#include "platform/programlauncher.h"

#include <QProcess>

QString defaultBrowserScript()
{
    return QStringLiteral("entry=$(xdg-settings get default-web-browser) && [ -n \"$entry\" ] && "
                          "{ gtk-launch \"$entry\" || "
                          "gio launch \"/usr/share/applications/$entry\"; }");
}

qint64 launchSystemBrowser(ProgramLauncher &launcher, const QProcessEnvironment &env)
{
    const QString browsers = env.value(QStringLiteral("BROWSER"));
    for (const QString &entry : browsers.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // An entry may carry options and a "%s" for the page; no page is handed over.
        QStringList command = QProcess::splitCommand(entry);
        command.removeAll(QStringLiteral("%s"));
        if (command.isEmpty())
            continue;
        const QString program = command.takeFirst();
        if (const qint64 pid = launcher.startDetached(program, command))
            return pid;
    }
    if (const qint64 pid = launcher.startDetached(QStringLiteral("x-www-browser"), {}))
        return pid;
    // Last, the desktop's default browser, started from its desktop entry without a page
    // (xdg-open itself cannot start a browser without a page to open).
    return launcher.startDetached(QStringLiteral("sh"),
                                  {QStringLiteral("-c"), defaultBrowserScript()});
}
