// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

#include <stdexcept>

class PictureLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a picture file (JPEG, PNG, GIF, BMP). Throws PictureLoadError when the file is missing
// or is not a readable picture.
class PictureLoader {
public:
    virtual ~PictureLoader() = default;
    virtual QImage load(const QString &path) = 0;
};
