// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/systembrowser.h"

#include "platform/programlauncher.h"
#include "platform/wake.h"

#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

// Waits until process has ended or has failed to start, at most until deadline. True when it
// has. Both come through stateChanged with NotRunning; finished alone would miss a failed start.
QCoro::Task<bool> processEnded(QProcess &process, QDeadlineTimer deadline)
{
    Wake wake;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&wake] { wake.fire(); });
    QObject::connect(&process, &QProcess::stateChanged, &timer, [&wake] { wake.fire(); });
    while (process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired())
            co_return false;
        if (!deadline.isForever())
            timer.start(
                std::chrono::ceil<std::chrono::milliseconds>(deadline.remainingTimeAsDuration()));
        co_await wake.next();
    }
    co_return true;
}

} // namespace

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

QCoro::Task<QStringList> defaultBrowserCommand(std::chrono::milliseconds timeout)
{
    // xdg-settings knows how each desktop records its choice.
    QProcess query;
    query.start(QStringLiteral("xdg-settings"),
                {QStringLiteral("get"), QStringLiteral("default-web-browser")});
    if (!co_await processEnded(query, QDeadlineTimer(timeout))) {
        // A hung one is killed and waited for until it has gone, so that neither a zombie nor a
        // running QProcess is left behind when the task ends.
        query.kill();
        co_await processEnded(query, QDeadlineTimer(QDeadlineTimer::Forever));
        co_return QStringList();
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        co_return QStringList();
    const QString entry = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    if (entry.isEmpty() || entry.contains(u'/'))
        co_return QStringList();
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
    co_return path.isEmpty() ? QStringList() : desktopEntryCommand(path);
}

QCoro::Task<ProgramStart> launchSystemBrowser(ProgramLauncher &launcher, QProcessEnvironment env,
                                              DefaultBrowserLookup defaultBrowser)
{
    const QString browsers = env.value(QStringLiteral("BROWSER"));
    for (const QString &entry : browsers.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // An entry may carry options and a "%s" for the page; no page is handed over.
        QStringList command = QProcess::splitCommand(entry);
        command.removeAll(QStringLiteral("%s"));
        if (command.isEmpty())
            continue;
        const QString program = command.takeFirst();
        const ProgramStart start = co_await launcher.startWatched(program, command);
        if (start.pid)
            co_return start;
    }
    const ProgramStart start = co_await launcher.startWatched(QStringLiteral("x-www-browser"), {});
    if (start.pid)
        co_return start;
    // Last, the desktop's default browser, started from its desktop entry without a page
    // (xdg-open itself cannot start a browser without a page to open).
    QStringList command;
    if (defaultBrowser)
        command = co_await defaultBrowser();
    if (command.isEmpty())
        co_return ProgramStart::failed(
            QStringLiteral("デスクトップの既定の Web ブラウザがわかりません。"));
    const QString program = command.takeFirst();
    co_return co_await launcher.startWatched(program, command);
}
