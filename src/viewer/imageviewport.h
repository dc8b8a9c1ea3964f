// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/twips.h"

#include <QFrame>
#include <QImage>

class QLabel;
class QScrollBar;

// The picture area of the main window (Picture1): shows a picture at its natural size in
// Image1 and moves it with the two scroll bars VScroll1 and HScroll1 drawn over its right and
// bottom edges. All offsets and ranges are in twips of picture offset.
class ImageViewport : public QFrame {
    Q_OBJECT
public:
    // Outer size of the viewport in twips; the scroll range leaves a margin of 300 twips.
    static constexpr int widthTwips = 8655;
    static constexpr int heightTwips = 5295;
    static constexpr int scrollMargin = 300;
    // One line of the wheel and of the arrow keys: 20 pixels.
    static constexpr int lineTwips = twips::fromPixels(20);

    explicit ImageViewport(QWidget *parent = nullptr);

    // Scroll maximum for a picture extent against the viewport extent (both in twips):
    // 0 when the picture is smaller, else the overhang plus the margin.
    static int scrollMaximum(int pictureTwips, int viewportTwips);

    // Shows the picture at its natural size and recomputes both maxima, vertical first.
    // The current offsets stay unless a smaller maximum lowers them.
    void setPicture(const QImage &picture);

    QLabel *Image1() const { return m_Image1; }
    QScrollBar *VScroll1() const { return m_VScroll1; }
    QScrollBar *HScroll1() const { return m_HScroll1; }

    // Image1's left/top and size in twips; left and top are always minus the scroll values.
    int imageLeft() const;
    int imageTop() const;
    int imageWidth() const;
    int imageHeight() const;

protected:
    // The wheel and, while the viewport has the focus, the arrow, page and Home/End keys move
    // the scroll bars (with Shift, the wheel moves the horizontal one), so the picture follows
    // through their change handlers.
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    static int wheelStep(int viewportTwips);
    static void scrollBy(QScrollBar *bar, int twipsDelta);
    void moveImage();
    void VScroll1_Change(int value);
    void HScroll1_Change(int value);

    QWidget *m_client = nullptr;
    QLabel *m_Image1 = nullptr;
    QScrollBar *m_VScroll1 = nullptr;
    QScrollBar *m_HScroll1 = nullptr;
};
