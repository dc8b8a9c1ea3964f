// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <QCoro/QCoroTask>

namespace cli {

// harvix-cli scan [FILE]: prints the JPEG references of a page read from FILE or standard
// input. Ends with the exit status.
QCoro::Task<int> runScan(QStringList args);

} // namespace cli
