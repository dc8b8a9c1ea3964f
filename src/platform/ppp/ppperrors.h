// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The result codes of the pppd backend: what pppd's exit statuses mean, and the Japanese text
// of each code.
namespace ppperrors {

// The result code for an exit status of pppd.
quint32 codeForExitStatus(int status);

// The text for a result code (a plain text with the number for codes this backend does not
// know).
QString text(quint32 code);

} // namespace ppperrors
