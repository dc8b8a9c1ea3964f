// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/cookies/secretservice.h"

#include <dlfcn.h>

namespace {

// The parts of libsecret's and GLib's interface used here, declared as their headers declare
// them, so building needs neither.
enum SecretSchemaFlags { SECRET_SCHEMA_DONT_MATCH_NAME = 1 << 1 };
enum SecretSchemaAttributeType { SECRET_SCHEMA_ATTRIBUTE_STRING = 0 };
struct SecretSchemaAttribute {
    const char *name;
    SecretSchemaAttributeType type;
};
struct SecretSchema {
    const char *name;
    SecretSchemaFlags flags;
    SecretSchemaAttribute attributes[32];
    int reserved;
    void *reserved1, *reserved2, *reserved3, *reserved4, *reserved5, *reserved6, *reserved7;
};
struct GError {
    unsigned int domain;
    int code;
    char *message;
};

using PasswordLookup = char *(*)(const SecretSchema *, void *cancellable, GError **error, ...);
using PasswordFree = void (*)(char *);
using ErrorFree = void (*)(GError *);

struct LibSecret {
    PasswordLookup lookup = nullptr;
    PasswordFree free = nullptr;
    ErrorFree freeError = nullptr;
};

// Opened once and kept: libsecret's D-Bus connection lives as long as the library.
const LibSecret *libSecret()
{
    static const LibSecret loaded = [] {
        LibSecret lib;
        void *handle = dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return lib;
        lib.lookup = reinterpret_cast<PasswordLookup>(dlsym(handle, "secret_password_lookup_sync"));
        lib.free = reinterpret_cast<PasswordFree>(dlsym(handle, "secret_password_free"));
        lib.freeError = reinterpret_cast<ErrorFree>(dlsym(handle, "g_error_free"));
        return lib;
    }();
    return loaded.lookup && loaded.free && loaded.freeError ? &loaded : nullptr;
}

} // namespace

std::optional<QByteArray> secretServicePassword(const QString &application, QString &error)
{
    const LibSecret *lib = libSecret();
    if (!lib) {
        error = QStringLiteral("libsecret (libsecret-1.so.0) is not installed");
        return std::nullopt;
    }
    // The browsers store the item under schema "chrome_libsecret_os_crypt_password_v2" (older
    // ones under "..._password"); matching on the attribute alone finds either.
    SecretSchema schema{};
    schema.name = "chrome_libsecret_os_crypt_password_v2";
    schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    schema.attributes[0] = {"application", SECRET_SCHEMA_ATTRIBUTE_STRING};
    const QByteArray name = application.toUtf8();
    GError *failure = nullptr;
    char *password =
        lib->lookup(&schema, nullptr, &failure, "application", name.constData(), nullptr);
    if (failure) {
        error =
            QStringLiteral("the keyring cannot be read: ") + QString::fromUtf8(failure->message);
        lib->freeError(failure);
        if (password)
            lib->free(password);
        return std::nullopt;
    }
    if (!password) {
        error =
            QStringLiteral("the keyring holds no password for application \"%1\"").arg(application);
        return std::nullopt;
    }
    QByteArray secret(password);
    lib->free(password);
    return secret;
}
