// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The folder that holds the running program file, ending with exactly one "/".
// Files that belong to the program (Help.txt, Pswd.dat) are opened as MyPath() + name.
QString MyPath();

// The default save folder: the user's documents folder followed by "/".
QString defaultSaveFolder();
