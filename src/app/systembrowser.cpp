#include "app/systembrowser.h"

#include "platform/programlauncher.h"

#include <QProcess>

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
    // xdg-open needs something to open; a blank page opens the default browser empty.
    return launcher.startDetached(QStringLiteral("xdg-open"), {QStringLiteral("about:blank")});
}
