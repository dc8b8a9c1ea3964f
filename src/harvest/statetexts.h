// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// The status-bar text for a transfer state number (0 to 12) reported by UrlTransfer's
// StateChanged. Any other number has no text: the status bar is then left as it is.
std::optional<QString> stateText(int state);
