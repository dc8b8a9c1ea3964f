// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/frmversion.h"

#include "help/versionicon.h"
#include "platform/twips.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace {

// A picture box: a sunken frame whose children are placed inside its border.
QFrame *pictureBox(QWidget *parent, const QRect &geometry)
{
    auto *box = new QFrame(parent);
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setLineWidth(2);
    box->setGeometry(geometry);
    return box;
}

QRect insideBorder(QFrame *box, const QRect &geometry)
{
    return geometry.translated(box->frameWidth(), box->frameWidth());
}

} // namespace

frmVersion::frmVersion(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmVersion"));
    const QString version = QStringLiteral("Harvix Version " HARVIX_VERSION);
    setWindowTitle(version);
    setWindowIcon(versionIcon());
    setAttribute(Qt::WA_DeleteOnClose);

    // Nothing is laid out: resizing the window shows more or less of the fixed pictures.
    QFrame *picture1 = pictureBox(this, twips::rect(0, 0, 4695, 3255));
    picture1->setObjectName(QStringLiteral("Picture1"));

    auto *picture2 = new QLabel(picture1);
    picture2->setObjectName(QStringLiteral("Picture2"));
    picture2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture2->setLineWidth(2);
    picture2->setGeometry(insideBorder(picture1, twips::rect(0, 0, 4575, 3135)));
    picture2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture2->setPixmap(versionPicture()); // clipped to the box, never scaled

    m_Command1 = new QPushButton(version, picture2);
    m_Command1->setObjectName(QStringLiteral("Command1"));
    m_Command1->setGeometry(insideBorder(picture2, twips::rect(240, 2640, 3135, 375)));
    connect(m_Command1, &QPushButton::clicked, this, &frmVersion::Command1_Click);

    m_Command2 = new QPushButton(QStringLiteral("戻る"), picture2);
    m_Command2->setObjectName(QStringLiteral("Command2"));
    m_Command2->setGeometry(insideBorder(picture2, twips::rect(3600, 2640, 735, 375)));
    connect(m_Command2, &QPushButton::clicked, this, &frmVersion::Command2_Click);

    setTabOrder(m_Command1, m_Command2);
    resize(twips::size(4680, 3195));
}

void frmVersion::Command1_Click()
{
    close();
}

void frmVersion::Command2_Click()
{
    close();
}
