// SPDX-License-Identifier: GPL-3.0-or-later
#include "harvest/statetexts.h"

#include <array>

std::optional<QString> stateText(int state)
{
    static constexpr std::array<const char16_t *, 13> texts = {
        u"",
        u"ホストのIPアドレスを調べています．",
        u"ホストのIPアドレスを見つけました．",
        u"ホストとの接続処理を行っています．",
        u"ホストと正常に接続しました．",
        u"ホストに要求を送信しています．",
        u"正常に送信しました．",
        u"ホストからの応答を受信しています．",
        u"ホストからの応答を正常に受信しました．",
        u"ホストとの接続を解除しています．",
        u"ホストとの接続を正常に解除しました．",
        u"通信中にエラーが発生しました．",
        u"要求処理が完了し，すべてのデータが受信されました．",
    };
    if (state < 0 || state >= static_cast<int>(texts.size()))
        return std::nullopt;
    return QString::fromUtf16(texts[static_cast<std::size_t>(state)]);
}
