// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/causetexts.h"

#include "platform/urltransfer.h"

namespace {

using Kind = TransferError::Kind;

struct Cause {
    Kind kind;
    const char16_t *text; // %1 is the HTTP status
};

// Every kind of failure and how the window says it.
constexpr Cause kCauses[] = {
    {Kind::Other, u"読み込み中にエラーが発生しました。"},
    {Kind::Busy, u"ほかの読み込みが進行中のため、読み込めませんでした。"},
    {Kind::BadAddress, u"アドレスの書き方が正しくありません。"},
    {Kind::UnsupportedAddress, u"http と https のアドレスだけを読み込めます。"},
    {Kind::HostNotFound, u"ホスト名が見つかりません。"},
    {Kind::CannotConnect, u"ホストに接続できません。"},
    {Kind::TimedOut, u"時間内に応答がありませんでした。"},
    {Kind::TooSlow, u"応答が遅すぎるため、打ち切りました。"},
    {Kind::Tls, u"サーバーの証明書が受け入れられず、安全な接続（TLS）ができませんでした。"},
    {Kind::TooManyRedirects, u"転送（リダイレクト）の回数が多すぎます。"},
    {Kind::HttpStatus, u"サーバーが HTTP %1 を返したため、読み込めませんでした。"},
    {Kind::NotAnImage, u"画像ではなく、Web ページかテキストが返されました。"},
    {Kind::TooLarge, u"ファイルが大きすぎます。"},
    {Kind::CannotWrite, u"保存場所にファイルを書き込めません。"},
    {Kind::Cancelled, u"中止しました。"},
};

} // namespace

QString causeText(const TransferError &failure)
{
    const Cause *found = &kCauses[0];
    for (const Cause &cause : kCauses) {
        if (cause.kind == failure.kind())
            found = &cause;
    }
    const QString text = QString::fromUtf16(found->text);
    return failure.kind() == Kind::HttpStatus
               ? text.arg(QString::number(failure.facts().httpStatus))
               : text;
}

QString causeAndPlace(const TransferError &failure)
{
    const TransferError::Facts &facts = failure.facts();
    const QString &place = failure.kind() == Kind::CannotWrite ? facts.folder : facts.url;
    return place.isEmpty() ? causeText(failure) : causeText(failure) + QLatin1Char('\n') + place;
}
