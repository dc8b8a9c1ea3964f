// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/pictureloader.h"

// Pictures read with QImageReader, the format taken from the content rather than the name.
class QtPictureLoader : public PictureLoader {
public:
    QImage load(const QString &path) override;
};
