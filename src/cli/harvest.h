// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace cli {

// harvix-cli harvest [OPTIONS] URL SAVE_DIR: the page harvest from a terminal. Returns the exit
// status.
int runHarvest(const QStringList &args);

} // namespace cli
