// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <stdexcept>

class FileWriteError : public std::runtime_error {
public:
    FileWriteError(const std::string &what, int error, const QString &folder = {})
        : std::runtime_error(what), m_error(error), m_folder(folder)
    {
    }
    // The errno value of the failing call, for callers that word their own message.
    int error() const { return m_error; }
    // The folder the file was to be written into (or that was to be created).
    const QString &folder() const { return m_folder; }

private:
    int m_error;
    QString m_folder;
};

enum class WriteMode {
    Fast,   // renamed into place once written (image files: many, replaceable)
    Durable // flushed to the disk before the rename (small files the user cannot refetch)
};

// Writes bytes to path through a temporary file in the same folder that takes the target's
// place only when complete: a failed write leaves the old file (or no file) and never a
// truncated one, and a symbolic link at path is replaced rather than followed. The temporary
// file is unnamed (O_TMPFILE) where the file system allows, so that even a program killed in
// the middle of a write leaves no stray file (elsewhere see removeTemporaryFileNow). With
// HARVIX_NAMED_TEMPORARY_FILES set in the environment (for tests), the named temporary file is
// used everywhere. Throws FileWriteError on failure.
void writeFileAtomically(const QString &path, const QByteArray &bytes,
                         QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                                QFileDevice::WriteOwner |
                                                                QFileDevice::ReadGroup |
                                                                QFileDevice::ReadOther,
                         WriteMode mode = WriteMode::Fast);

// Removes the named temporary file that a write is filling at this moment, if one is (where
// the file system has no unnamed files). Safe to call from a signal handler: a program that ends
// on a signal calls it first, so that no partial file is left behind.
void removeTemporaryFileNow() noexcept;

// Creates folder and each missing folder above it with the given permissions (less the user's
// creation mask, as for any new folder); folders that exist are left as they are. Throws
// FileWriteError.
void createFolders(const QString &folder, QFileDevice::Permissions permissions);
