// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/imageviewport.h"

#include "platform/twips.h"

#include <QApplication>
#include <QKeyEvent>
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
    // A click on a bar gives the focus to the viewport, which takes the keys.
    bar->setFocusPolicy(Qt::NoFocus);
    return bar;
}

} // namespace

ImageViewport::ImageViewport(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Picture1"));
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    resize(twips::size(widthTwips, heightTwips));
    // A click on the picture or its bars gives it the keys; Tab passes it by.
    setFocusPolicy(Qt::ClickFocus);

    // The client clips the picture to the inner area; the scroll bars sit on top of it.
    m_client = new QWidget(this);
    m_client->setGeometry(contentsRect());

    m_Image1 = new QLabel(m_client);
    m_Image1->setObjectName(QStringLiteral("Image1"));
    m_Image1->setGeometry(twips::rect(0, 0, 2175, 2295));
    m_Image1->setScaledContents(false);

    m_VScroll1 = makeScrollBar(Qt::Vertical, QStringLiteral("VScroll1"), m_client);
    m_VScroll1->setGeometry(twips::rect(8400, 0, 255, 5055));
    m_HScroll1 = makeScrollBar(Qt::Horizontal, QStringLiteral("HScroll1"), m_client);
    m_HScroll1->setGeometry(twips::rect(0, 5040, 8415, 255));
    // The square where the two bars meet shows the window's background, not the picture. It
    // lies under the bars, which overlap it by their last pixel.
    auto *corner = new QWidget(m_client);
    corner->setObjectName(QStringLiteral("ScrollCorner"));
    corner->setAutoFillBackground(true);
    corner->setBackgroundRole(QPalette::Window);
    corner->setGeometry(QRect(m_VScroll1->geometry().left(), m_HScroll1->geometry().top(),
                              m_VScroll1->width(), m_HScroll1->height()));
    corner->stackUnder(m_VScroll1);

    connect(m_VScroll1, &QScrollBar::valueChanged, this, &ImageViewport::VScroll1_Change);
    connect(m_HScroll1, &QScrollBar::valueChanged, this, &ImageViewport::HScroll1_Change);
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
    m_Image1->setPixmap(QPixmap::fromImage(picture));
    m_Image1->resize(picture.size());
    moveImage();
    // Setting a maximum below the current value lowers the value and moves the picture.
    m_VScroll1->setMaximum(scrollMaximum(imageHeight(), heightTwips));
    m_HScroll1->setMaximum(scrollMaximum(imageWidth(), widthTwips));
}

int ImageViewport::imageLeft() const
{
    return -m_HScroll1->value();
}

int ImageViewport::imageTop() const
{
    return -m_VScroll1->value();
}

int ImageViewport::imageWidth() const
{
    return twips::fromPixels(m_Image1->width());
}

int ImageViewport::imageHeight() const
{
    return twips::fromPixels(m_Image1->height());
}

int ImageViewport::wheelStep(int viewportTwips)
{
    // The desktop's wheel lines of 20 pixels each, but never more than a third of the viewport,
    // so a notch never carries the part just looked at out of sight.
    return std::min(QApplication::wheelScrollLines() * lineTwips, viewportTwips / 3);
}

void ImageViewport::scrollBy(QScrollBar *bar, int twipsDelta)
{
    // The scroll bar keeps its value within its range; its change handler moves the picture.
    bar->setValue(
        int(std::clamp<qint64>(qint64(bar->value()) + twipsDelta, bar->minimum(), bar->maximum())));
}

void ImageViewport::wheelEvent(QWheelEvent *event)
{
    // One notch (120) moves by one wheel step; finer wheels move by their share of it.
    const QPoint delta = event->angleDelta();
    const auto scroll = [](QScrollBar *bar, int angle, int viewportTwips) {
        if (angle != 0)
            scrollBy(bar, -int(qint64(angle) * wheelStep(viewportTwips) / 120));
    };
    if (event->modifiers() & Qt::ShiftModifier) {
        scroll(m_HScroll1, delta.y() != 0 ? delta.y() : delta.x(), widthTwips);
    } else {
        scroll(m_VScroll1, delta.y(), heightTwips);
        scroll(m_HScroll1, delta.x(), widthTwips);
    }
    event->accept();
}

void ImageViewport::keyPressEvent(QKeyEvent *event)
{
    // A page is the part of the picture the bars leave in sight, less one line that stays on
    // screen across the move.
    const int page = twips::fromPixels(m_HScroll1->geometry().top()) - lineTwips;
    switch (event->key()) {
    case Qt::Key_Up:
        scrollBy(m_VScroll1, -lineTwips);
        break;
    case Qt::Key_Down:
        scrollBy(m_VScroll1, lineTwips);
        break;
    case Qt::Key_Left:
        scrollBy(m_HScroll1, -lineTwips);
        break;
    case Qt::Key_Right:
        scrollBy(m_HScroll1, lineTwips);
        break;
    case Qt::Key_PageUp:
        scrollBy(m_VScroll1, -page);
        break;
    case Qt::Key_PageDown:
        scrollBy(m_VScroll1, page);
        break;
    case Qt::Key_Home:
        m_VScroll1->setValue(m_VScroll1->minimum());
        break;
    case Qt::Key_End:
        m_VScroll1->setValue(m_VScroll1->maximum());
        break;
    default:
        QFrame::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ImageViewport::moveImage()
{
    m_Image1->move(twips::toPixels(imageLeft()), twips::toPixels(imageTop()));
}

void ImageViewport::VScroll1_Change(int)
{
    moveImage();
}

void ImageViewport::HScroll1_Change(int)
{
    moveImage();
}
