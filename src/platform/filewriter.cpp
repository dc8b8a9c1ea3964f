#include "platform/filewriter.h"

#include <QFile>
#include <QFileInfo>

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

// The process's file creation mask. Linux tells it in /proc; setting it to read it back would
// briefly change it for every thread of the process.
mode_t creationMask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    return S_IWGRP | S_IWOTH;
}

mode_t toMode(QFileDevice::Permissions p)
{
    mode_t m = 0;
    if (p & QFileDevice::ReadOwner)
        m |= S_IRUSR;
    if (p & QFileDevice::WriteOwner)
        m |= S_IWUSR;
    if (p & QFileDevice::ReadGroup)
        m |= S_IRGRP;
    if (p & QFileDevice::WriteGroup)
        m |= S_IWGRP;
    if (p & QFileDevice::ReadOther)
        m |= S_IROTH;
    if (p & QFileDevice::WriteOther)
        m |= S_IWOTH;
    return m;
}

} // namespace

void writeFileAtomically(const QString &path, const QByteArray &bytes,
                         QFileDevice::Permissions permissions, WriteMode mode)
{
    const QByteArray target = QFile::encodeName(path);
    const QString folder = QFileInfo(path).path();
    QByteArray tmpl = QFile::encodeName(folder) + "/.harvix-XXXXXX";

    // Close-on-exec: a program started meanwhile must not inherit the half-written file.
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
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
    // As open() would: the user's creation mask takes away what it forbids.
    if (::fchmod(fd, toMode(permissions) & ~creationMask()) != 0)
        abandon(QStringLiteral("cannot set permissions of"), errno);
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
