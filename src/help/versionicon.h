// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

// The icon shared by the help viewer and the version dialog.
QIcon versionIcon();

// The 320 x 239 picture of the version dialog.
QPixmap versionPicture();
