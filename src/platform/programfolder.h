// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The folder that holds the running program file, ending with exactly one "/". The program
// only reads there (Help.txt, and a Pswd.dat carried over from an older copy); it never writes.
QString MyPath();

// The default save folder: the user's documents folder followed by "/".
QString defaultSaveFolder();

// Called before an image is written into saveFolder: when saveFolder is the default save folder
// and it does not exist yet (a new account), creates it with the user's default mode. Any other
// folder is left alone, so a folder the user chose that has gone since still fails the write.
// Throws FileWriteError when the folder cannot be created.
void prepareSaveFolder(const QString &saveFolder);
