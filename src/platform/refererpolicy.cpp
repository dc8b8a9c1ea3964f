// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/refererpolicy.h"

namespace {

bool isHttp(const QUrl &url)
{
    return url.scheme() == u"http" || url.scheme() == u"https";
}

int effectivePort(const QUrl &url)
{
    return url.port(url.scheme() == u"https" ? 443 : 80);
}

} // namespace

QString refererFor(const QUrl &page, const QUrl &target)
{
    if (!isHttp(page) || !isHttp(target))
        return {};
    if (page.scheme() == u"https" && target.scheme() == u"http")
        return {};
    const bool sameOrigin = page.scheme() == target.scheme() &&
                            page.host().compare(target.host(), Qt::CaseInsensitive) == 0 &&
                            effectivePort(page) == effectivePort(target);
    if (sameOrigin)
        return page.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment)
            .toString(QUrl::FullyEncoded);
    return page.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                         QUrl::RemoveFragment)
               .toString(QUrl::FullyEncoded) +
           u'/';
}
