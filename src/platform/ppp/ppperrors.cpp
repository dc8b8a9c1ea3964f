// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ppp/ppperrors.h"

#include "platform/remoteaccess.h"

namespace ppperrors {

using enum RemoteAccess::Code;

quint32 codeForExitStatus(int status)
{
    switch (status) {
    case 0:
        return Success;
    case 19: // we failed to authenticate ourselves to the peer
        return ErrorAuthenticationFailure;
    case 16: // the modem hung up
        return ErrorPortDisconnected;
    case 15: // the peer stopped answering echo requests
        return ErrorPppTimeout;
    case 10: // negotiation failed
        return ErrorPppNoProtocolsConfigured;
    case 6: // the serial port is locked by another process
    case 7: // the serial port could not be opened
        return ErrorPortNotAvailable;
    case 5: // pppd was stopped by a signal
        return ErrorUserDisconnection;
    case 8: // the connect script failed
        return ErrorNoAnswer;
    case 4: // the kernel has no PPP support
        return ErrorDeviceDoesNotExist;
    case 2: // an option was wrong or not allowed for this user
        return ErrorCorruptPhonebook;
    default:
        return ErrorUnknown;
    }
}

QString text(quint32 code)
{
    switch (code) {
    case Success:
        return QStringLiteral("操作は正常に終了しました。");
    case ErrorTooManyOpenFiles:
        return QStringLiteral(
            "pppd との間のパイプを作成できません。開いているファイルが多すぎます。");
    case ErrorAccessDenied:
        return QStringLiteral("pppd または電話帳 (peers フォルダー) を使う権限がありません。"
                              "dip グループに入っているか確認してください。");
    case ErrorInvalidHandle:
        return QStringLiteral("指定された接続はありません。");
    case ErrorNotEnoughMemory:
        return QStringLiteral("pppd のプロセスを作成できません。メモリーが足りないか、"
                              "プロセスの数が上限に達しています。");
    case ErrorInvalidParameter:
        return QStringLiteral("パラメーターが正しくありません。");
    case ErrorCallNotImplemented:
        return QStringLiteral("この操作はサポートされていません。");
    case ErrorBufferTooSmall:
        return QStringLiteral("バッファーが小さすぎます。");
    case ErrorDeviceDoesNotExist:
        return QStringLiteral("このシステムのカーネルは PPP をサポートしていません。");
    case ErrorCannotOpenPhonebook:
        return QStringLiteral("電話帳 (peers フォルダー) を開けません。");
    case ErrorCannotFindPhonebookEntry:
        return QStringLiteral("電話帳にこのエントリーがありません。");
    case ErrorCorruptPhonebook:
        return QStringLiteral(
            "pppd がオプションの誤りを報告しました。電話帳エントリー (peers "
            "フォルダーのファイル) と /etc/ppp/options の内容、または一般ユーザーに"
            "許されていないオプションがないか確認してください。");
    case ErrorAuthInternal:
        return QStringLiteral("パスワードを pppd に渡せません。管理者が /etc/ppp/options に "
                              "\"plugin passwordfd.so\" の行を追加する必要があります。");
    case ErrorPortDisconnected:
        return QStringLiteral("モデムが回線を切断しました。");
    case ErrorUserDisconnection:
        return QStringLiteral("接続は中断されました。");
    case ErrorInvalidSize:
        return QStringLiteral("構造体のサイズが正しくありません。");
    case ErrorPortNotAvailable:
        return QStringLiteral("モデム (シリアル ポート) は使用中か、開けません。");
    case ErrorUnknown:
        return QStringLiteral("pppd が原因不明のエラーで終了しました。");
    case ErrorRequestTimeout:
        return QStringLiteral(
            "時間内に接続できないため、ダイヤルを中止しました (pppd を終了しました)。"
            "電話帳エントリーの persist や maxfail の設定を確認してください。");
    case ErrorNoConnection:
        return QStringLiteral("接続は確立後すぐに切断されました。");
    case ErrorNoAnswer:
        return QStringLiteral("接続先が応答しません (接続スクリプトが失敗しました)。");
    case ErrorAuthenticationFailure:
        return QStringLiteral("ユーザー名またはパスワードが正しくないため、接続が拒否されました。");
    case ErrorRasmanCannotInitialize:
        return QStringLiteral("pppd が見つかりません。ppp パッケージをインストールしてください。");
    case ErrorPppTimeout:
        return QStringLiteral("接続先から応答がなくなりました。");
    case ErrorPppNoProtocolsConfigured:
        return QStringLiteral("接続先とのネゴシエーションに失敗しました。");
    default:
        return QStringLiteral("不明なエラーです (エラー番号 %1)。").arg(code);
    }
}

} // namespace ppperrors
