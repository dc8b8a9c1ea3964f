#include "platform/qt/qtpictureloader.h"

#include <QImageReader>

QImage QtPictureLoader::load(const QString &path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // No size limit of our own: any picture the decoder can read is shown.
    reader.setAllocationLimit(0);
    QImage image = reader.read();
    if (image.isNull())
        throw PictureLoadError(reader.errorString().toStdString());
    return image;
}
