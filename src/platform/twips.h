// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

// Window geometry is designed in twips (1/1440 inch); on screen 15 twips make one pixel (96 dpi).
namespace twips {

constexpr int perPixel = 15;

constexpr int toPixels(int twips)
{
    // Round to the nearest pixel, halves away from zero.
    return twips >= 0 ? (twips + perPixel / 2) / perPixel : -((-twips + perPixel / 2) / perPixel);
}

constexpr int fromPixels(int pixels)
{
    return pixels * perPixel;
}

constexpr QRect rect(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

constexpr QSize size(int width, int height)
{
    return QSize(toPixels(width), toPixels(height));
}

// Gives a control its designed name and puts it at its designed place, both as the window's
// design tables list them (Left, Top, Width, Height in twips of its container).
template <typename Widget>
Widget *place(Widget *widget, const QString &name, int left, int top, int width, int height)
{
    widget->setObjectName(name);
    widget->setGeometry(rect(left, top, width, height));
    return widget;
}

} // namespace twips
