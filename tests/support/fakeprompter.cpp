// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakeprompter.h"

Prompter::Answer FakePrompter::MsgBox(const QString &text, Buttons buttons, Icon icon,
                                      const QString &title, const QString &informative,
                                      const QString &detailed)
{
    shown.append({text, buttons, icon, title, informative, detailed});
    if (!answers.isEmpty())
        return answers.takeFirst();
    switch (buttons) {
    case Buttons::RetryCancel:
        return Answer::Retry;
    case Buttons::YesNo:
        return Answer::Yes;
    case Buttons::Ok:
        break;
    }
    return Answer::Ok;
}

QStringList FakePrompter::texts() const
{
    QStringList out;
    for (const auto &s : shown)
        out.append(s.text);
    return out;
}
