// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>

// The status bar's one line of text. Unlike a label, a new text never changes the widget's size
// hint, so it repaints this line alone and never lays out the status bar or the window again.
class StatusLine : public QWidget {
    Q_OBJECT
public:
    explicit StatusLine(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // Where the text stands in the line: left (the default) or right.
    void setAlignment(Qt::Alignment alignment);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    Qt::Alignment m_alignment = Qt::AlignLeft;
};
