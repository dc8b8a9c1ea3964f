// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QScrollBar>

// List1's vertical scroll bar. A harvest changes its range at every frame, and the list following
// its newest entry changes its value right after; a plain scroll bar repaints itself at each
// change, also when its handle ends on the same pixels (at the end of a long list, at its
// smallest length). This one repaints only when what it draws has moved: the handle's place and
// size, and whether either end is reached. Changes between holdChanges() and releaseChanges() are
// judged together, by where they end.
class ListScrollBar : public QScrollBar {
public:
    explicit ListScrollBar(QWidget *parent = nullptr);

    void holdChanges();
    void releaseChanges();

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // What a change of range or value can change in the drawing.
    struct Look {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };
    Look look() const;
    // A scroll bar that shows itself for a moment after each change must hear of every change.
    bool transient() const;

    Look m_painted; // as last painted
    bool m_held = false;
    bool m_changedWhileHeld = false;
};
