// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/systembrowser.h"

#include "platform/programlauncher.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

QStringList desktopEntryCommand(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString exec;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
        } else if (inEntry && line.startsWith(u"Exec")) {
            const qsizetype equals = line.indexOf(u'=');
            if (equals > 0 && QStringView(line).first(equals).trimmed() == u"Exec") {
                exec = line.mid(equals + 1).trimmed();
                break;
            }
        }
    }
    // The string escapes of desktop files, then the quoting of the Exec key.
    exec.replace(QStringLiteral("\\s"), QStringLiteral(" "));
    exec.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    QStringList command = QProcess::splitCommand(exec);
    static const QRegularExpression fieldCode(QStringLiteral("%[fFuUdDnNickvm]"));
    QStringList out;
    for (QString argument : std::as_const(command)) {
        const bool onlyCode = argument.size() == 2 && argument.contains(fieldCode);
        argument.remove(fieldCode);
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
        if (!onlyCode)
            out.append(argument);
    }
    return out;
}

QStringList defaultBrowserCommand()
{
    // xdg-settings knows how each desktop records its choice. It answers at once; a hung one is
    // not waited for long.
    QProcess query;
    query.start(QStringLiteral("xdg-settings"),
                {QStringLiteral("get"), QStringLiteral("default-web-browser")});
    if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit ||
        query.exitCode() != 0) {
        query.kill();
        query.waitForFinished(1000);
        return {};
    }
    const QString entry = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    if (entry.isEmpty() || entry.contains(u'/'))
        return {};
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
    return path.isEmpty() ? QStringList() : desktopEntryCommand(path);
}

qint64 launchSystemBrowser(ProgramLauncher &launcher, const QProcessEnvironment &env,
                           const std::function<QStringList()> &defaultBrowser)
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
    QStringList command = defaultBrowser ? defaultBrowser() : QStringList();
    if (command.isEmpty())
        return 0;
    const QString program = command.takeFirst();
    return launcher.startDetached(program, command);
}
