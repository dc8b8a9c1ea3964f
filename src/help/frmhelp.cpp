// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/frmhelp.h"

#include "help/helptext.h"
#include "help/versionicon.h"
#include "platform/prompter.h"
#include "platform/twips.h"

#include <QEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPlainTextEdit>

#include <optional>

frmHelp::frmHelp(Prompter &prompter, QWidget *parent, const QString &programFolder)
    : QMainWindow(parent), m_prompter(prompter), m_programFolder(programFolder)
{
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Help"));
    setWindowIcon(versionIcon());
    setAttribute(Qt::WA_DeleteOnClose);
    // Fixed single border: a close button, no minimise or maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    auto *mnuModoru = menuBar()->addAction(QStringLiteral("戻る"));
    mnuModoru->setObjectName(QStringLiteral("mnuModoru"));
    connect(mnuModoru, &QAction::triggered, this, &frmHelp::mnuModoru_Click);

    // The client area keeps its designed size; the window around it cannot be resized.
    m_client = new QWidget(this);
    m_client->setFixedSize(twips::size(9750, 6495));
    m_client->setAutoFillBackground(true);
    QPalette clientPalette = m_client->palette();
    clientPalette.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    m_client->setPalette(clientPalette);
    m_client->installEventFilter(this);
    setCentralWidget(m_client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_Text1 = new QPlainTextEdit(m_client);
    m_Text1->setObjectName(QStringLiteral("Text1"));
    m_Text1->setGeometry(twips::rect(120, 0, 9495, 6375));
    m_Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_Text1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"), 12);
    font.setStyleHint(QFont::SansSerif);
    m_Text1->setFont(font);
    QPalette textPalette = m_Text1->palette();
    textPalette.setColor(QPalette::Base, QColor(0xE0, 0xE0, 0xE0));
    m_Text1->setPalette(textPalette);
    m_Text1->setFocus();

    Form_Load();
}

void frmHelp::Form_Load()
{
    // Whatever fails (the file missing or unreadable, or the memory to hold it), one message is
    // shown and the window opens empty.
    std::optional<QString> text;
    try {
        text = readHelpFile(m_programFolder);
    } catch (...) {
        text.reset();
    }
    if (!text)
        m_prompter.MsgBox(QStringLiteral("Help.txtファイルがありません。"));
    m_Text1->setPlainText(text.value_or(QString()));
}

void frmHelp::Form_Resize()
{
    m_Text1->setGeometry(0, 0, m_client->width(), m_client->height());
}

bool frmHelp::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::Resize)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void frmHelp::mnuModoru_Click()
{
    close();
}
