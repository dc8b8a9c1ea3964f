// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/usage.h"

#include "cli/output.h"

#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace cli {

namespace {

const char kMainUsage[] =
    "Usage: harvix-cli COMMAND [OPTIONS] ARGUMENTS\n"
    "       harvix-cli --help | --version\n"
    "\n"
    "Commands:\n"
    "  scan [FILE]              print the JPEG references found in an HTML page\n"
    "  harvest URL SAVE_DIR     fetch a page and save every JPEG it references\n"
    "\n"
    "Run 'harvix-cli COMMAND --help' for the details of one command.\n"
    "Put '--' before an argument that starts with '-'.\n";

} // namespace

QString mainUsage()
{
    return QString::fromUtf8(kMainUsage);
}

QCommandLineOption helpOption()
{
    return QCommandLineOption({u"h"_s, u"help"_s}, u"show this help and exit"_s);
}

QString commandHelp(const char *usage, const QList<QCommandLineOption> &options, const char *exit)
{
    QString text = QString::fromUtf8(usage) + u"\nOptions:\n"_s;
    for (const QCommandLineOption &option : options) {
        QStringList names;
        for (const QString &name : option.names())
            names.append((name.size() == 1 ? u"-"_s : u"--"_s) + name);
        QString left = u"  "_s + names.join(u", "_s);
        if (!option.valueName().isEmpty())
            left += u' ' + option.valueName();
        text += left.leftJustified(24) + u' ' + option.description() + u'\n';
    }
    return text + u'\n' + QString::fromUtf8(exit);
}

int usageError(QString problem)
{
    if (!problem.isEmpty())
        problem[0] = problem.at(0).toLower();
    if (problem.endsWith(u'.'))
        problem.chop(1);
    writeLine(stderr, u"harvix-cli: "_s + problem);
    writeLine(stderr, u"Try 'harvix-cli --help'."_s);
    return kExitUsage;
}

int parseCommand(QCommandLineParser &parser, const QStringList &args,
                 const QList<QCommandLineOption> &options, const QString &help)
{
    parser.addOptions(options);
    if (!parser.parse(QStringList{u"harvix-cli"_s} + args))
        return usageError(parser.errorText());
    if (parser.isSet(u"help"_s)) {
        writeText(stdout, help);
        return kExitOk;
    }
    return -1;
}

} // namespace cli
