// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/frmras.h"

#include "dialup/pswdfile.h"
#include "dialup/vbras32.h"
#include "platform/filewriter.h"
#include "platform/twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollArea>
#include <QTextLayout>
#include <QtMath>

#include <QCoro/QCoroTimer>

#include <algorithm>

namespace {

// Shows each character of the password box as "*", whatever the platform style prefers.
class AsteriskPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The height of a line of Japanese text: the font that draws the kana and kanji (often a
// fallback font) may need more room than the label's own font says.
int japaneseLineHeight(const QFont &font)
{
    QTextLayout layout(QStringLiteral("状態あア"), font);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    return std::max(1, qCeil(line.height()));
}

QString readFailedTitle()
{
    return QStringLiteral("passの表示");
}

} // namespace

frmRAS::frmRAS(RemoteAccess &ras, Prompter &prompter,
               std::function<void(const QString &)> setStatus, QWidget *parent,
               const QString &programFolder, const QString &userFolder)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_ras(ras), m_prompter(prompter), m_setStatus(std::move(setStatus)),
      m_programFolder(programFolder), m_userFolder(userFolder)
{
    setObjectName(QStringLiteral("frmRAS"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("ダイアルアップ接続"));
    setFixedSize(twips::size(6030, 3240));
    createControls();
    Form_Load();
}

frmRAS::~frmRAS()
{
    // Destroyed without an unload (its owner went away): release the object, leave the line.
    delete m_RasSample;
}

void frmRAS::createControls()
{
    // Created in tab order, so that the focus chain follows it.
    m_Combo1 = twips::place(new QComboBox(this), QStringLiteral("Combo1"), 1440, 240, 2775, 300);
    m_Combo1->setEditable(true);
    m_Combo1->setInsertPolicy(QComboBox::NoInsert);

    m_Text1 = twips::place(new QLineEdit(this), QStringLiteral("Text1"), 1440, 720, 2775, 270);

    m_Text2 = twips::place(new QLineEdit(this), QStringLiteral("Text2"), 1440, 1200, 2055, 270);
    auto *style = new AsteriskPasswordStyle;
    style->setParent(this);
    m_Text2->setStyle(style);
    m_Text2->setEchoMode(QLineEdit::Password);

    m_Command1 = twips::place(new QPushButton(QStringLiteral("接続(&D)"), this),
                              QStringLiteral("Command1"), 4680, 360, 1050, 495);

    m_Command2 = twips::place(new QPushButton(QStringLiteral("切断(&H)"), this),
                              QStringLiteral("Command2"), 4680, 1080, 1050, 495);

    m_Frame1 = twips::place(new QGroupBox(QStringLiteral("状態 . . ."), this),
                            QStringLiteral("Frame1"), 240, 2160, 4215, 975);

    const QString labelTexts[3] = {QStringLiteral("エントリー名"), QStringLiteral("ユーザー名"),
                                   QStringLiteral("パスワード")};
    for (int i = 0; i < 3; ++i) {
        m_Label1[i] = twips::place(new QLabel(labelTexts[i], this), QStringLiteral("Label1"), 240,
                                   240 + 480 * i, 1215, 255);
        m_Label1[i]->setProperty("Index", i);
    }

    // A dial error reads two or three lines, pppd's reason sometimes more: the text wraps and
    // takes the frame's height below its title, in whole lines, and scrolls when even that is
    // too short, so the whole reason can always be read (its tooltip shows it too).
    auto *statusScroll = new QScrollArea(m_Frame1);
    statusScroll->setObjectName(QStringLiteral("lblStatusArea"));
    statusScroll->setFrameShape(QFrame::NoFrame);
    statusScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    statusScroll->setWidgetResizable(true);
    // Read with the wheel or the scroll bar; the tab order stays that of the controls.
    statusScroll->setFocusPolicy(Qt::NoFocus);
    statusScroll->viewport()->setAutoFillBackground(false);
    m_lblStatus = new QLabel;
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    m_lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblStatus->setWordWrap(true);
    statusScroll->setWidget(m_lblStatus);
    // The text stands on the frame's own background (setWidget gives it one of its own).
    m_lblStatus->setAutoFillBackground(false);
    const QRect inside = m_Frame1->contentsRect();
    QRect statusArea = twips::rect(480, 360, 3255, 495);
    statusArea.setTop(std::min(statusArea.top(), inside.top()));
    statusArea.setRight(std::max(statusArea.right(), inside.right()));
    const int lineHeight = japaneseLineHeight(m_lblStatus->font());
    statusArea.setHeight(std::max(1, (inside.bottom() - statusArea.top()) / lineHeight) *
                         lineHeight);
    statusScroll->setGeometry(statusArea);

    m_Command4 = twips::place(new QPushButton(QStringLiteral("キャンセル"), this),
                              QStringLiteral("Command4"), 4680, 2400, 1095, 495);

    m_Command3 = twips::place(new QPushButton(QStringLiteral("パスワードを保存する"), this),
                              QStringLiteral("Command3"), 360, 1680, 2055, 375);

    m_Command5 = twips::place(new QPushButton(QStringLiteral("パスワードをクリア"), this),
                              QStringLiteral("Command5"), 2640, 1680, 1815, 375);

    setTabOrder(m_Combo1, m_Text1);
    setTabOrder(m_Text1, m_Text2);
    setTabOrder(m_Text2, m_Command1);
    setTabOrder(m_Command1, m_Command2);
    setTabOrder(m_Command2, m_Command4);
    setTabOrder(m_Command4, m_Command3);
    setTabOrder(m_Command3, m_Command5);
    m_Combo1->setFocus();

    // The dial and the hang-up run on as coroutines after the click has been handled.
    connect(m_Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(m_Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(m_Command3, &QPushButton::clicked, this, &frmRAS::Command3_Click);
    connect(m_Command4, &QPushButton::clicked, this, &frmRAS::Command4_Click);
    connect(m_Command5, &QPushButton::clicked, this, &frmRAS::Command5_Click);
}

void frmRAS::Form_Load()
{
    m_RasSample = new VBRas32(m_ras);

    m_Combo1->clear();
    for (qint16 i = 0; i < m_RasSample->EntryCount(); ++i)
        m_Combo1->addItem(m_RasSample->EnumEntries(i));
    m_Combo1->setCurrentIndex(-1);
    m_Combo1->setEditText(QString());

    // A user who never saved credentials has no Pswd.dat yet: that is the first state here,
    // not a failure, and the dialog opens empty as for a file with no saved values. A file that
    // exists but cannot be read is reported, step by step.
    const QString path = pswdfile::readPath(m_userFolder, m_programFolder);
    if (QFileInfo::exists(path)) {
        PswdReader reader(path);
        const auto error = [&reader] { return reader.error(); };
        readStep([&reader] { return reader.open(); }, error);
        readStep([&] { return reader.readLine(&m_savedEntry); }, error);
        readStep([&] { return reader.readLine(&m_savedUser); }, error);
        readStep([&] { return reader.readLine(&m_savedPassword); }, error);
        readStep([&] { return reader.readLine(&m_savedFlag); }, error);
        reader.close();
    }

    if (m_savedFlag == pswdfile::flagOn()) {
        m_Combo1->setEditText(m_savedEntry);
        m_Text1->setText(m_savedUser);
        m_Text2->setText(m_savedPassword);
        m_Command3->setEnabled(false);
    } else {
        m_Command5->setEnabled(false);
    }
}

void frmRAS::readStep(const std::function<bool()> &step, const std::function<QString()> &error)
{
    while (!step()) {
        const auto answer = m_prompter.MsgBox(
            QStringLiteral("Pswd.datファイル の読み込みに失敗しました\n") + error(),
            Prompter::Buttons::RetryCancel, Prompter::Icon::Critical, readFailedTitle());
        if (answer != Prompter::Answer::Retry)
            return;
    }
}

bool frmRAS::savePswd(const QStringList &lines)
{
    try {
        pswdfile::write(m_userFolder + pswdfile::fileName(), lines);
        return true;
    } catch (const FileWriteError &e) {
        m_prompter.MsgBox(QStringLiteral("Pswd.datファイル の書き込みに失敗しました\n") +
                              pswdfile::writeErrorText(e.error()),
                          Prompter::Buttons::Ok, Prompter::Icon::Critical, readFailedTitle());
        return false;
    }
}

void frmRAS::setStatusLabel(const QString &text)
{
    m_lblStatus->setText(text);
    m_lblStatus->setToolTip(text);
}

bool frmRAS::credentialsUsable()
{
    const std::pair<QLabel *, QString> fields[] = {{m_Label1[0], m_Combo1->currentText()},
                                                   {m_Label1[1], m_Text1->text()},
                                                   {m_Label1[2], m_Text2->text()}};
    for (const auto &[label, value] : fields) {
        if (const QString text = pswdfile::unstorableValueText(label->text(), value);
            !text.isEmpty()) {
            m_prompter.MsgBox(text);
            return false;
        }
    }
    return true;
}

QCoro::Task<> frmRAS::Command1_Click()
{
    if (!m_RasSample || m_RasSample->isDialing() || !credentialsUsable())
        co_return;
    m_setStatus(QStringLiteral("ダイアル接続中です,しばらく、お待ちください。"));
    setStatusLabel(QStringLiteral("ダイアル接続中です"));
    m_RasSample->setEntry(m_Combo1->currentText());
    m_RasSample->setUserID(m_Text1->text());
    m_RasSample->setPassword(m_Text2->text());
    // The program goes on while the dial runs, and so does this dialog: only a second dial is
    // kept from starting. Closing the dialog meanwhile ends the dial (Form_Unload); its end then
    // finds the dialog gone, or another dial object, and shows nothing.
    m_Command1->setEnabled(false);
    const QPointer<frmRAS> alive(this);
    VBRas32 *const ras = m_RasSample;
    qint32 code = co_await ras->Dialup();
    if (!alive || m_RasSample != ras)
        co_return;
    endDial();
    if (code == 0)
        RasSample_ConnectComplete();
    else
        RasSample_ConnectError(code);
}

void frmRAS::endDial()
{
    m_Command1->setEnabled(true);
}

QCoro::Task<> frmRAS::Command2_Click()
{
    setStatusLabel(QStringLiteral("切断しています..."));
    // One turn of the event loop lets the label paint before the hang-up; the dialog takes no
    // input meanwhile.
    setEnabled(false);
    const QPointer<frmRAS> alive(this);
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!alive)
        co_return;
    setEnabled(true);
    // A dial in progress is ended by the unload that close() runs.
    if (m_RasSample && !m_RasSample->isDialing()) {
        const bool connected = m_RasSample->Connection() != 0;
        const qint32 result = m_RasSample->HangUp();
        // The line is down once hung up, or when it had gone already (the service no longer
        // knows its handle): the main window's status bar no longer calls it connected.
        if (connected && (result == qint32(RemoteAccess::Success) ||
                          result == qint32(RemoteAccess::ErrorInvalidHandle)))
            m_setStatus(QStringLiteral("切断しました。"));
    }
    setStatusLabel(QString());
    close();
}

void frmRAS::Command3_Click()
{
    if (!credentialsUsable())
        return;
    m_savedFlag = pswdfile::flagOn();
    if (savePswd({m_Combo1->currentText(), m_Text1->text(), m_Text2->text(), m_savedFlag}))
        m_Command3->setEnabled(false);
}

void frmRAS::Command4_Click()
{
    close();
}

void frmRAS::Command5_Click()
{
    m_savedFlag = pswdfile::flagOff();
    if (savePswd({m_savedFlag, m_savedFlag, m_savedFlag, m_savedFlag}))
        m_Command5->setEnabled(false);
}

void frmRAS::RasSample_ConnectComplete()
{
    endDial();
    m_setStatus(QStringLiteral("接続が完了しました。"));
    m_Command1->setEnabled(false);
    hide();
}

void frmRAS::RasSample_ConnectError(qint32 &RasErrCode)
{
    // The dial has ended: the dialog is usable again while its box says why.
    endDial();
    const QString reason = m_RasSample->ErrMsg(RasErrCode);
    setStatusLabel(QStringLiteral("ダイヤルアップ接続エラー：\n") + reason);
    // The main window no longer says that a dial is under way.
    m_setStatus(QStringLiteral("ダイヤルアップ接続エラー"));
    // The box says why too: the dialog goes once it is answered.
    m_prompter.MsgBox(QStringLiteral("ダイヤルアップ接続エラー\n設定を確認するか、又は、"
                                     "接続先が混雑しています。"),
                      Prompter::Buttons::Ok, Prompter::Icon::None, Prompter::applicationTitle(),
                      reason);
    close();
}

void frmRAS::closeEvent(QCloseEvent *event)
{
    // Also during a dial: the unload ends it.
    Form_Unload();
    event->accept();
}

void frmRAS::Form_Unload()
{
    if (!m_RasSample)
        return;
    if (m_RasSample->isDialing()) {
        // A dial in progress has no line to keep yet: it is ended without asking, and the main
        // window no longer says that it is under way.
        m_RasSample->HangUp();
        m_setStatus(QString());
    } else if (m_RasSample->Connection() != 0) {
        const auto answer =
            m_prompter.MsgBox(m_RasSample->Entry() + QStringLiteral("から切断しますか？"),
                              Prompter::Buttons::YesNo, Prompter::Icon::Question);
        if (answer == Prompter::Answer::Yes)
            m_RasSample->HangUp();
    }
    delete m_RasSample;
    m_RasSample = nullptr;
}
