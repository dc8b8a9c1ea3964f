// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class TransferError;

// Why a transfer or a harvest failed, in the window's words: one sentence for each kind of
// failure, the HTTP status in it where it has one.
QString causeText(const TransferError &failure);

// The cause with the place it happened on a line of its own: the address, or the save folder
// for a file that cannot be written (nothing when the failure names neither).
QString causeAndPlace(const TransferError &failure);
