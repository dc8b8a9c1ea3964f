// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dialup/pswdfile.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"
#include "platform/remoteaccess.h"

#include <QPointer>
#include <QWidget>

#include <QCoro/QCoroTask>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class VBRas32;

// The dial-up dialog "ダイアルアップ接続": pick a phone-book entry, type user name and password,
// dial, hang up, and remember the credentials in the user's own Pswd.dat.
//
// A modeless tool window that deletes itself when closed. Its load (Form_Load) runs in the
// constructor, before the first show. The dial runs as a coroutine: while it runs only 接続 is
// disabled, and closing the dialog (キャンセル, the close box, 切断) ends the dial. After a
// successful dial it hides itself and keeps its state and connection until it is shown again.
// Closing it in any way (also close() on the hidden dialog) runs the unload: while connected it
// asks whether to hang up; the close is never refused.
class frmRAS : public QWidget {
    Q_OBJECT
public:
    // setStatus replaces the text of the main window's status bar. Pswd.dat is written into
    // userFolder and read from there, or from programFolder while userFolder holds none.
    frmRAS(RemoteAccess &ras, Prompter &prompter, std::function<void(const QString &)> setStatus,
           QWidget *parent = nullptr, const QString &programFolder = ::MyPath(),
           const QString &userFolder = pswdfile::userFolder());
    ~frmRAS() override;

    // The dial-up object from load to unload; null after the unload.
    VBRas32 *RasSample() const { return m_RasSample; }

    QComboBox *Combo1() const { return m_Combo1; }
    QLineEdit *Text1() const { return m_Text1; }
    QLineEdit *Text2() const { return m_Text2; }
    QPushButton *Command1() const { return m_Command1; }
    QPushButton *Command2() const { return m_Command2; }
    QPushButton *Command3() const { return m_Command3; }
    QPushButton *Command4() const { return m_Command4; }
    QPushButton *Command5() const { return m_Command5; }
    QLabel *lblStatus() const { return m_lblStatus; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The dial has ended: a new one may start.
    void endDial();
    void createControls();
    void Form_Load();
    void Form_Unload();
    QCoro::Task<> Command1_Click();
    QCoro::Task<> Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void RasSample_ConnectComplete();
    void RasSample_ConnectError(qint32 &RasErrCode);
    // Runs one step of reading Pswd.dat, offering Retry/Cancel while it fails.
    void readStep(const std::function<bool()> &step, const std::function<QString()> &error);
    void setStatusLabel(const QString &text);
    // Whether the entry name, user name and password can be stored and dialled as typed; when
    // one cannot, tells the user which and returns false.
    bool credentialsUsable();
    // Writes Pswd.dat; on failure tells the user and returns false.
    bool savePswd(const QStringList &lines);

    VBRas32 *m_RasSample = nullptr;
    QLabel *m_Label1[3] = {};
    QComboBox *m_Combo1 = nullptr;
    QLineEdit *m_Text1 = nullptr;
    QLineEdit *m_Text2 = nullptr;
    QPushButton *m_Command1 = nullptr;
    QPushButton *m_Command2 = nullptr;
    QPushButton *m_Command3 = nullptr;
    QPushButton *m_Command5 = nullptr;
    QGroupBox *m_Frame1 = nullptr;
    QLabel *m_lblStatus = nullptr;
    QPushButton *m_Command4 = nullptr;

    RemoteAccess &m_ras;
    Prompter &m_prompter;
    std::function<void(const QString &)> m_setStatus;
    QString m_programFolder;
    QString m_userFolder;

    QString m_savedEntry;
    QString m_savedUser;
    QString m_savedPassword;
    QString m_savedFlag;
};
