// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

// The Referer a request for target carries when it comes from page, as browsers send it by
// default (strict-origin-when-cross-origin): the page's whole address without fragment and
// credentials for the same origin, its origin alone for another one, and nothing from https to
// http or from a page that is not http or https. Empty for none. A redirect's next request gets
// what this gives for its own target, from the Referer of the request before it: never more
// than the page's address would give.
QString refererFor(const QUrl &page, const QUrl &target);
