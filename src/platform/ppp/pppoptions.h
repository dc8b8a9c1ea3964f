// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Reading pppd's options: peer file names, options files and pppd command lines.
namespace pppoptions {

// A peer file name that pppd accepts after "call" and that names a file inside its folder.
bool isEntryName(const QString &name);

// Whether an options file loads the passwordfd plugin ("plugin passwordfd.so", also with a
// folder before the file name). Words are split at white space; "#" starts a comment.
bool loadsPasswordPlugin(const QString &path);

// The entry a pppd command line dials: the name after "call", or the file name after "file".
QString entryOf(const QStringList &args);

} // namespace pppoptions
