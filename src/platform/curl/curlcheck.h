// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/urltransfer.h"

#include <curl/curl.h>

// Every result libcurl hands back goes through one of these: a failure becomes a TransferError
// that says what was asked and libcurl's own words.
inline void checkCurl(CURLcode code, const char *what)
{
    if (code != CURLE_OK)
        throw TransferError(
            QStringLiteral("libcurl refused to %1: %2")
                .arg(QLatin1String(what), QString::fromUtf8(curl_easy_strerror(code))));
}

inline void checkCurl(CURLMcode code, const char *what)
{
    if (code != CURLM_OK)
        throw TransferError(
            QStringLiteral("libcurl refused to %1: %2")
                .arg(QLatin1String(what), QString::fromUtf8(curl_multi_strerror(code))));
}

inline void checkCurl(CURLSHcode code, const char *what)
{
    if (code != CURLSHE_OK)
        throw TransferError(
            QStringLiteral("libcurl refused to %1: %2")
                .arg(QLatin1String(what), QString::fromUtf8(curl_share_strerror(code))));
}

// An option of an easy handle, set or refused.
template <typename T> void setCurlOption(CURL *easy, CURLoption option, T value, const char *what)
{
    checkCurl(curl_easy_setopt(easy, option, value), what);
}
