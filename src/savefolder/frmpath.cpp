// SPDX-License-Identifier: GPL-3.0-or-later
#include "savefolder/frmpath.h"

#include "platform/programfolder.h"
#include "platform/twips.h"
#include "savefolder/drivelist.h"
#include "savefolder/filelist.h"
#include "savefolder/folderlist.h"

#include <QDir>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QPushButton *makeButton(const QString &caption, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    // No button answers Enter.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

frmPath::frmPath(std::function<void(const QString &)> setSaveFolder, QWidget *parent,
                 const QString &defaultFolder)
    : QDialog(parent), m_setSaveFolder(std::move(setSaveFolder))
{
    setObjectName(QStringLiteral("frmPath"));
    setWindowTitle(QStringLiteral("保存"));
    setFixedSize(twips::size(5010, 3645));

    twips::place(new QLabel(QStringLiteral("保存する場所を指定してください"), this),
                 QStringLiteral("Label1"), 120, 120, 2775, 255);

    m_Drive1 = twips::place(new DriveList(this), QStringLiteral("Drive1"), 120, 360, 2775, 300);

    m_Dir1 = twips::place(new FolderList(this), QStringLiteral("Dir1"), 120, 720, 2655, 1980);

    m_Text1 = twips::place(
        new QLineEdit(defaultFolder.isEmpty() ? defaultSaveFolder() : defaultFolder, this),
        QStringLiteral("Text1"), 120, 2760, 4695, 375);
    m_Text1->setReadOnly(true);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSizeF(9.75);
    m_Text1->setFont(font);

    auto *command1 = twips::place(makeButton(QStringLiteral("指定"), this),
                                  QStringLiteral("Command1"), 120, 3240, 1095, 375);
    auto *command2 = twips::place(makeButton(QStringLiteral("キャンセル"), this),
                                  QStringLiteral("Command2"), 3840, 3240, 1095, 375);

    m_File1 = twips::place(new FileList(this), QStringLiteral("File1"), 3000, 360, 1935, 2250);

    auto *command3 = twips::place(makeButton(QStringLiteral("OK"), this),
                                  QStringLiteral("Command3"), 1440, 3240, 975, 375);
    auto *command4 = twips::place(makeButton(QStringLiteral("デフォルト"), this),
                                  QStringLiteral("Command4"), 2640, 3240, 975, 375);

    QWidget::setTabOrder(m_Drive1, m_Dir1);
    QWidget::setTabOrder(m_Dir1, m_Text1);
    QWidget::setTabOrder(m_Text1, command1);
    QWidget::setTabOrder(command1, command2);
    QWidget::setTabOrder(command2, m_File1);
    QWidget::setTabOrder(m_File1, command3);
    QWidget::setTabOrder(command3, command4);

    connect(m_Drive1, &DriveList::driveChanged, this, &frmPath::Drive1_Change);
    connect(m_Dir1, &FolderList::pathChanged, this, &frmPath::Dir1_Change);
    connect(command1, &QPushButton::clicked, this, &frmPath::Command1_Click);
    connect(command2, &QPushButton::clicked, this, &frmPath::Command2_Click);
    connect(command3, &QPushButton::clicked, this, &frmPath::Command3_Click);
    connect(command4, &QPushButton::clicked, this, &frmPath::Command4_Click);

    // Both lists start on the process's current folder and its file system.
    const QString current = QDir::currentPath();
    m_Drive1->setDriveFor(current);
    m_lastDrive = m_Drive1->drive();
    if (!m_Dir1->setPath(current))
        m_Dir1->setPath(m_lastDrive);
    m_Drive1->setFocus();
}

void frmPath::keyPressEvent(QKeyEvent *event)
{
    // Escape does not close the dialog: only its buttons and its close box do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmPath::Drive1_Change(const QString &root)
{
    // A file system that cannot be read is refused: both lists stay where they were.
    if (!m_Dir1->setPath(root)) {
        m_Drive1->restoreDrive(m_lastDrive);
        return;
    }
    m_lastDrive = root;
}

void frmPath::Dir1_Change(const QString &path)
{
    m_File1->setPath(path);
}

void frmPath::Command1_Click()
{
    QString folder = m_Dir1->path();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    m_Text1->setText(folder);
}

void frmPath::Command2_Click()
{
    reject();
}

void frmPath::Command3_Click()
{
    m_setSaveFolder(m_Text1->text());
    accept();
}

void frmPath::Command4_Click()
{
    Command3_Click();
}
