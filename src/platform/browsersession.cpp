// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/browsersession.h"

QByteArray netscapeLine(const BrowserCookie &cookie, qint64 expires)
{
    QByteArray line;
    if (cookie.httpOnly)
        line += "#HttpOnly_";
    line += cookie.domain + '\t' + (cookie.domain.startsWith('.') ? "TRUE" : "FALSE") + '\t' +
            (cookie.path.isEmpty() ? QByteArray("/") : cookie.path) + '\t' +
            (cookie.secure ? "TRUE" : "FALSE") + '\t' + QByteArray::number(expires) + '\t' +
            cookie.name + '\t' + cookie.value;
    return line;
}
