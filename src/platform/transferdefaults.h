// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The limits a transfer runs under unless it is told otherwise, each written here once: the
// transfer service, its requests, harvix-cli's options and the failure texts use these.
namespace transferdefaults {

// Time allowed to connect, and longest time a response may stay slower than one byte a second.
inline constexpr int kLowSpeedSeconds = 60;
// Longest time one transfer (the page, or one image) may take as a whole.
inline constexpr int kMaxTimeSeconds = 600;
// Connections kept open for reuse (at least; one more than the side-by-side transfers).
inline constexpr long kMaxConnections = 8;
// Redirects followed from one address.
inline constexpr long kMaxRedirects = 10;

} // namespace transferdefaults
