// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/versionicon.h"

#include <QPixmap>

QIcon versionIcon()
{
    return QIcon(QStringLiteral(":/version/icon.png"));
}

QPixmap versionPicture()
{
    return QPixmap(QStringLiteral(":/version/version.png"));
}
