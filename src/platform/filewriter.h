#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <stdexcept>

class FileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes bytes to path through a temporary file in the same folder that is renamed over the
// target: a failed write leaves the old file (or no file) and never a truncated one, and a
// symbolic link at path is replaced rather than followed. Throws FileWriteError on failure.
void writeFileAtomically(const QString &path, const QByteArray &bytes,
                         QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                                QFileDevice::WriteOwner |
                                                                QFileDevice::ReadGroup |
                                                                QFileDevice::ReadOther);
