// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <QCoro/QCoroTask>

namespace cli {

// harvix-cli harvest [OPTIONS] URL SAVE_DIR: the page harvest from a terminal. Ends with the
// exit status.
QCoro::Task<int> runHarvest(QStringList args);

} // namespace cli
