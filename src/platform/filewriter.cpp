// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The named temporary file being written, for removeTemporaryFileNow: a path in a fixed buffer
// and a flag, which a signal handler may read at any moment.
char g_temporaryName[4096];
volatile std::sig_atomic_t g_temporaryPending = 0;

void setTemporaryPending(const QByteArray &name)
{
    g_temporaryPending = 0;
    if (name.size() >= qsizetype(sizeof g_temporaryName))
        return;
    std::memcpy(g_temporaryName, name.constData(), size_t(name.size()) + 1);
    g_temporaryPending = 1;
}

// A failure at a folder: it could not be created, or no file could be created in it.
[[noreturn]] void failAtFolder(const QString &what, const QString &folder, int err)
{
    throw FileWriteError((what + QStringLiteral(" ") + folder + QStringLiteral(": ") +
                          QString::fromLocal8Bit(std::strerror(err)))
                             .toStdString(),
                         err, folder);
}

// A failure at a file: it could not be written or saved under its name.
[[noreturn]] void fail(const QString &what, const QString &path, int err)
{
    throw FileWriteError((what + QStringLiteral(" ") + path + QStringLiteral(": ") +
                          QString::fromLocal8Bit(std::strerror(err)))
                             .toStdString(),
                         err, QFileInfo(path).path());
}

mode_t toMode(QFileDevice::Permissions p)
{
    mode_t m = 0;
    if (p & QFileDevice::ReadOwner)
        m |= S_IRUSR;
    if (p & QFileDevice::WriteOwner)
        m |= S_IWUSR;
    if (p & QFileDevice::ExeOwner)
        m |= S_IXUSR;
    if (p & QFileDevice::ReadGroup)
        m |= S_IRGRP;
    if (p & QFileDevice::WriteGroup)
        m |= S_IWGRP;
    if (p & QFileDevice::ExeGroup)
        m |= S_IXGRP;
    if (p & QFileDevice::ReadOther)
        m |= S_IROTH;
    if (p & QFileDevice::WriteOther)
        m |= S_IWOTH;
    if (p & QFileDevice::ExeOther)
        m |= S_IXOTH;
    return m;
}

} // namespace

namespace {

// Writes all of bytes to fd; 0 or the errno of the failing write.
int writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= n;
    }
    return 0;
}

QByteArray temporaryName(const QByteArray &folder)
{
    return folder + "/.harvix-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

// Gives the unnamed file fd the name path. Through /proc/self/fd, which needs no privilege;
// without /proc, AT_EMPTY_PATH, which needs CAP_DAC_READ_SEARCH. 0 or errno.
int linkUnnamed(int fd, const QByteArray &path)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    const int error = errno;
    if (error != ENOENT || QFileInfo::exists(QStringLiteral("/proc/self/fd")))
        return error;
    return ::linkat(fd, "", AT_FDCWD, path.constData(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

enum class Unnamed { Written, Unsupported };

// Writes into an unnamed file of the folder (O_TMPFILE), which gets a name only once it is
// complete: a write that fails or is killed leaves nothing behind. Returns Unsupported where
// the file system cannot make unnamed files or link them, and nothing was done.
Unnamed writeUnnamed(const QString &path, const QByteArray &bytes, mode_t permissions,
                     WriteMode mode)
{
    const QByteArray target = QFile::encodeName(path);
    const QString folder = QFileInfo(path).path();
    const QByteArray folderName = QFile::encodeName(folder);
    const int fd = ::open(folderName.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return Unnamed::Unsupported;
        failAtFolder(QStringLiteral("cannot create a file in"), folder, errno);
    }
    const auto abandon = [fd, &path](const QString &what, int err) {
        ::close(fd);
        fail(what, path, err);
    };
    if (const int err = writeAll(fd, bytes))
        abandon(QStringLiteral("cannot write"), err);
    if (mode == WriteMode::Durable && ::fsync(fd) != 0)
        abandon(QStringLiteral("cannot flush"), errno);

    // Linked straight to its name when nothing stands there yet. Otherwise under a temporary
    // name that is renamed over the old file, since a link never replaces one; rename()
    // replaces a symbolic link at the target instead of writing through it.
    int err = linkUnnamed(fd, target);
    if (err == EEXIST) {
        QByteArray temporary;
        do {
            temporary = temporaryName(folderName);
            err = linkUnnamed(fd, temporary);
        } while (err == EEXIST);
        if (err == 0 && ::rename(temporary.constData(), target.constData()) != 0) {
            const int renameErr = errno;
            ::unlink(temporary.constData());
            abandon(QStringLiteral("cannot save"), renameErr);
        }
    }
    if (err != 0) {
        ::close(fd);
        if (err == ENOENT || err == EPERM || err == EOPNOTSUPP)
            return Unnamed::Unsupported; // no /proc and no privilege, or no links here
        fail(QStringLiteral("cannot save"), path, err);
    }
    // The data went to the file system before the link; a local file system reports no
    // further error at the close.
    ::close(fd);
    return Unnamed::Written;
}

// The same through a named temporary file, where unnamed files are not available. A write
// killed in the middle leaves that file behind.
void writeNamed(const QString &path, const QByteArray &bytes, mode_t permissions, WriteMode mode)
{
    const QByteArray target = QFile::encodeName(path);
    const QString folder = QFileInfo(path).path();
    const QByteArray folderName = QFile::encodeName(folder);
    QByteArray temporary;
    int fd = -1;
    // The name is known to a signal before the file exists, so that no moment is left when the
    // file is there and a signal would not remove it; once it is renamed or removed an unlink of
    // the name finds nothing.
    struct Done {
        ~Done() { g_temporaryPending = 0; }
    } done;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = temporaryName(folderName);
        setTemporaryPending(temporary);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        if (fd < 0) {
            const int err = errno;
            g_temporaryPending = 0; // the name is another file's
            if (err != EEXIST) {
                errno = err;
                break;
            }
        }
    }
    if (fd < 0)
        failAtFolder(QStringLiteral("cannot create a file in"), folder, errno);

    const auto abandon = [&](const QString &what, int err) {
        ::close(fd);
        ::unlink(temporary.constData());
        fail(what, path, err);
    };
    if (const int err = writeAll(fd, bytes))
        abandon(QStringLiteral("cannot write"), err);
    if (mode == WriteMode::Durable && ::fsync(fd) != 0)
        abandon(QStringLiteral("cannot flush"), errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temporary.constData());
        fail(QStringLiteral("cannot write"), path, err);
    }
    // rename() replaces a symbolic link at the target instead of writing through it.
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temporary.constData());
        fail(QStringLiteral("cannot save"), path, err);
    }
}

} // namespace

void writeFileAtomically(const QString &path, const QByteArray &bytes,
                         QFileDevice::Permissions permissions, WriteMode mode)
{
    // The file is created with the final permissions, so the kernel applies the user's
    // creation mask as for any new file; close-on-exec, so that a program started meanwhile
    // does not inherit it.
    const mode_t fileMode = toMode(permissions);
    static const bool namedOnly = qEnvironmentVariableIsSet("HARVIX_NAMED_TEMPORARY_FILES");
    if (namedOnly || writeUnnamed(path, bytes, fileMode, mode) == Unnamed::Unsupported)
        writeNamed(path, bytes, fileMode, mode);
    if (mode == WriteMode::Durable) {
        // The new name itself is on disk once the folder is flushed.
        const int dir = ::open(QFile::encodeName(QFileInfo(path).path()).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
}

void removeTemporaryFileNow() noexcept
{
    if (g_temporaryPending)
        ::unlink(g_temporaryName);
}

void createFolders(const QString &folder, QFileDevice::Permissions permissions)
{
    // Walk up to the first folder that exists, then create the missing ones top down.
    QStringList missing;
    for (QString at = QDir::cleanPath(folder); !QFileInfo::exists(at);) {
        missing.prepend(at);
        const QString parent = QFileInfo(at).path();
        if (parent == at)
            break;
        at = parent;
    }
    for (const QString &path : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), toMode(permissions)) != 0 &&
            errno != EEXIST)
            failAtFolder(QStringLiteral("cannot create the folder"), path, errno);
    }
}
