// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

// The status bar's one line of text. A harvest replaces it a dozen times per image, so setting
// it only stores the text and asks for a repaint, at most twenty times a second: unlike a label,
// a new text never changes the widget's size hint, so it never lays out the status bar or the
// window again.
class StatusLine : public QWidget {
    Q_OBJECT
public:
    explicit StatusLine(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    bool m_repaintPending = false;
    QTimer m_repaint;
    QElapsedTimer m_lastPaint;
};
