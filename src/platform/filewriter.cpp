// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const QString &what, const QString &path, int err)
{
    throw FileWriteError((what + QStringLiteral(" ") + path + QStringLiteral(": ") +
                          QString::fromLocal8Bit(std::strerror(err)))
                             .toStdString(),
                         err);
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

void writeFileAtomically(const QString &path, const QByteArray &bytes,
                         QFileDevice::Permissions permissions, WriteMode mode)
{
    const QByteArray target = QFile::encodeName(path);
    const QString folder = QFileInfo(path).path();
    // The temporary file is created with the final permissions, so the kernel applies the
    // user's creation mask as for any new file; close-on-exec, so that a program started
    // meanwhile does not inherit it.
    const QByteArray prefix = QFile::encodeName(folder) + "/.harvix-";
    QByteArray tmpl;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tmpl = prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(tmpl.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, toMode(permissions));
        if (fd < 0 && errno != EEXIST)
            break;
    }

    if (fd < 0)
        fail(QStringLiteral("cannot create a file in"), folder, errno);

    auto abandon = [&](const QString &what, int err) {
        ::close(fd);
        ::unlink(tmpl.constData());
        fail(what, path, err);
    };

    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            abandon(QStringLiteral("cannot write"), errno);
        }
        data += n;
        left -= n;
    }
    if (mode == WriteMode::Durable && ::fsync(fd) != 0)
        abandon(QStringLiteral("cannot flush"), errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        fail(QStringLiteral("cannot write"), path, err);
    }
    // rename() replaces a symbolic link at the target instead of writing through it.
    if (::rename(tmpl.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        fail(QStringLiteral("cannot save"), path, err);
    }
    if (mode == WriteMode::Durable) {
        // The rename itself is on disk once the folder is flushed.
        const int dir =
            ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
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
            fail(QStringLiteral("cannot create the folder"), path, errno);
    }
}
