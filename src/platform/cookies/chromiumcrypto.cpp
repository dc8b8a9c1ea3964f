// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/cookies/chromiumcrypto.h"

#include <openssl/evp.h>

#include <memory>

QByteArray chromiumCookieKey(const QByteArray &password)
{
    static const unsigned char salt[] = "saltysalt";
    QByteArray key(16, '\0');
    if (PKCS5_PBKDF2_HMAC_SHA1(password.constData(), int(password.size()), salt, sizeof salt - 1, 1,
                               int(key.size()), reinterpret_cast<unsigned char *>(key.data())) != 1)
        return {};
    return key;
}

std::optional<QByteArray> decryptChromiumCookie(const QByteArray &cipher, const QByteArray &key)
{
    static const unsigned char iv[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                         ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    if (key.size() != 16 || cipher.isEmpty() || cipher.size() % 16 != 0)
        return std::nullopt;
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(
        EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    QByteArray plain(cipher.size(), '\0');
    int written = 0;
    int last = 0;
    auto *out = reinterpret_cast<unsigned char *>(plain.data());
    if (!context ||
        EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr,
                           reinterpret_cast<const unsigned char *>(key.constData()), iv) != 1 ||
        EVP_DecryptUpdate(context.get(), out, &written,
                          reinterpret_cast<const unsigned char *>(cipher.constData()),
                          int(cipher.size())) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out + written, &last) != 1)
        return std::nullopt;
    plain.truncate(written + last);
    return plain;
}
