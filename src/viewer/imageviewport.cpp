// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/imageviewport.h"

#include "platform/twips.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <limits>

namespace {

QScrollBar *makeScrollBar(Qt::Orientation orientation, const QString &name, QWidget *parent)
{
    auto *bar = new QScrollBar(orientation, parent);
    bar->setObjectName(name);
    bar->setRange(0, 3276);
    bar->setValue(0);
    bar->setSingleStep(50);
    bar->setPageStep(100);
    return bar;
}

} // namespace

ImageViewport::ImageViewport(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Picture1"));
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    resize(twips::size(widthTwips, heightTwips));

    // The client clips the picture to the inner area; the scroll bars sit on top of it.
    m_client = new QWidget(this);
    m_client->setGeometry(contentsRect());

    m_image = new QLabel(m_client);
    m_image->setObjectName(QStringLiteral("Image1"));
    m_image->setGeometry(twips::rect(0, 0, 2175, 2295));
    m_image->setScaledContents(false);

    m_vscroll = makeScrollBar(Qt::Vertical, QStringLiteral("VScroll1"), m_client);
    m_vscroll->setGeometry(twips::rect(8400, 0, 255, 5055));
    m_hscroll = makeScrollBar(Qt::Horizontal, QStringLiteral("HScroll1"), m_client);
    m_hscroll->setGeometry(twips::rect(0, 5040, 8415, 255));

    connect(m_vscroll, &QScrollBar::valueChanged, this, &ImageViewport::VScroll1_Change);
    connect(m_hscroll, &QScrollBar::valueChanged, this, &ImageViewport::HScroll1_Change);
}

int ImageViewport::scrollMaximum(int pictureTwips, int viewportTwips)
{
    if (pictureTwips < viewportTwips)
        return 0;
    // Computed in 64 bits and clamped: no picture the loader can read overflows the range.
    const qint64 max = qint64(pictureTwips) - viewportTwips + scrollMargin;
    return int(std::min<qint64>(max, std::numeric_limits<int>::max()));
}

void ImageViewport::setPicture(const QImage &picture)
{
    m_image->setPixmap(QPixmap::fromImage(picture));
    m_image->resize(picture.size());
    moveImage();
    // Setting a maximum below the current value lowers the value and moves the picture.
    m_vscroll->setMaximum(scrollMaximum(imageHeight(), heightTwips));
    m_hscroll->setMaximum(scrollMaximum(imageWidth(), widthTwips));
}

int ImageViewport::imageLeft() const
{
    return -m_hscroll->value();
}

int ImageViewport::imageTop() const
{
    return -m_vscroll->value();
}

int ImageViewport::imageWidth() const
{
    return twips::fromPixels(m_image->width());
}

int ImageViewport::imageHeight() const
{
    return twips::fromPixels(m_image->height());
}

void ImageViewport::wheelEvent(QWheelEvent *event)
{
    // One notch (120) moves as far as the system's wheel lines of arrow steps, as in a list.
    const QPoint delta = event->angleDelta();
    const auto scroll = [](QScrollBar *bar, int angle) {
        if (angle != 0)
            bar->setValue(bar->value() - int(qint64(angle) * QApplication::wheelScrollLines() *
                                             bar->singleStep() / 120));
    };
    if (event->modifiers() & Qt::ShiftModifier) {
        scroll(m_hscroll, delta.y() != 0 ? delta.y() : delta.x());
    } else {
        scroll(m_vscroll, delta.y());
        scroll(m_hscroll, delta.x());
    }
    event->accept();
}

void ImageViewport::moveImage()
{
    m_image->move(twips::toPixels(imageLeft()), twips::toPixels(imageTop()));
}

void ImageViewport::VScroll1_Change(int)
{
    moveImage();
}

void ImageViewport::HScroll1_Change(int)
{
    moveImage();
}
