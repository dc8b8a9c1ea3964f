// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/prompter.h"

#include <QList>
#include <QStringList>

// Records every message and answers from a script (Ok / first button when the script is empty).
class FakePrompter : public Prompter {
public:
    struct Shown {
        QString text;
        Buttons buttons;
        Icon icon;
        QString title;
        QString informative;
        QString detailed;
    };

    Answer MsgBox(const QString &text, Buttons buttons, Icon icon, const QString &title,
                  const QString &informative = {}, const QString &detailed = {}) override;

    QList<Shown> shown;
    QList<Answer> answers;
    QStringList texts() const;
};
