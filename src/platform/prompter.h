// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Message boxes go through this interface so that tests can answer them without a screen.
class Prompter {
public:
    enum class Buttons { Ok, RetryCancel, YesNo };
    enum class Icon { None, Critical, Question };
    enum class Answer { Ok, Retry, Cancel, Yes, No };

    virtual ~Prompter() = default;

    // Shows one message and waits for the user's answer. informative, when not empty, is shown
    // below the message in smaller type (why it happened), as plain text, each line whole where
    // the screen allows; detailed, when not empty, is there for the user to open (the words of
    // the program's parts, for a report).
    virtual Answer MsgBox(const QString &text, Buttons buttons = Buttons::Ok,
                          Icon icon = Icon::None, const QString &title = applicationTitle(),
                          const QString &informative = {}, const QString &detailed = {}) = 0;

    static QString applicationTitle() { return QStringLiteral("Harvix"); }
};
