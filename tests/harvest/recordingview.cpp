// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingview.h"

void RecordingView::setPageSource(const QString &text)
{
    pageSource = text;
    events.append(QStringLiteral("source"));
}

void RecordingView::clearImageList()
{
    imageList.clear();
    events.append(QStringLiteral("clear"));
}

void RecordingView::addImageListEntry(const QString &name)
{
    imageList.append(name);
    events.append(QStringLiteral("add:") + name);
    if (onEntryAdded)
        onEntryAdded(name);
}

void RecordingView::setStatusText(const QString &text)
{
    statusText = text;
    events.append(QStringLiteral("status:") + text);
}

void RecordingView::setBusyPointer(bool on)
{
    busy = on;
    events.append(on ? QStringLiteral("busy:1") : QStringLiteral("busy:0"));
}

void RecordingView::showMessage(const QString &text, const QString &)
{
    events.append(QStringLiteral("message:") + text);
}

void RecordingView::beep()
{
    events.append(QStringLiteral("beep"));
}
