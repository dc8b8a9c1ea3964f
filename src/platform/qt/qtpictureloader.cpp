// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qtpictureloader.h"

#include <QImageReader>

QImage QtPictureLoader::load(const QString &path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // Far above any real photograph, but a few bytes declaring a gigantic picture cannot
    // exhaust the memory: such a file counts as unreadable.
    reader.setAllocationLimit(2048);
    QImage image = reader.read();
    if (image.isNull())
        throw PictureLoadError(reader.errorString().toStdString());
    return image;
}
