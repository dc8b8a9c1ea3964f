// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace cli {

// harvix-cli scan [FILE]: prints the JPEG references of a page read from FILE or standard
// input. Returns the exit status.
int runScan(const QStringList &args);

} // namespace cli
