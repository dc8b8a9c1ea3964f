// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ppp/pppoptions.h"

#include <QFile>
#include <QFileInfo>

namespace pppoptions {

bool isEntryName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) &&
           !name.contains(QLatin1Char('/'));
}

namespace {

QByteArray unquoted(const QByteArray &word)
{
    if (word.size() >= 2 && (word.front() == '"' || word.front() == '\'') &&
        word.back() == word.front())
        return word.mid(1, word.size() - 2);
    return word;
}

} // namespace

bool loadsPasswordPlugin(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool afterPlugin = false;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(64 * 1024);
        if (const auto hash = line.indexOf('#'); hash >= 0)
            line.truncate(hash);
        for (const auto &word : line.simplified().split(' ')) {
            if (word.isEmpty())
                continue;
            if (afterPlugin) {
                const QByteArray name = unquoted(word);
                if (name.mid(name.lastIndexOf('/') + 1) == "passwordfd.so")
                    return true;
            }
            afterPlugin = word == "plugin";
        }
    }
    return false;
}

QString entryOf(const QStringList &args)
{
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("call"))
            return args[i + 1];
        if (args[i] == QLatin1String("file"))
            return QFileInfo(args[i + 1]).fileName();
    }
    return {};
}

} // namespace pppoptions
