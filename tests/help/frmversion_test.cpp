// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/frmversion.h"
#include "help/versionicon.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(FrmVersion, EitherButtonCloses)
{
    for (const QString &name : {u"Command1"_s, u"Command2"_s}) {
        SCOPED_TRACE(name.toStdString());
        QPointer<frmVersion> window = new frmVersion;
        window->show();
        auto *button = window->findChild<QPushButton *>(name);
        ASSERT_NE(button, nullptr);
        // The caption and the first button name the program and its package version.
        EXPECT_EQ(window->windowTitle(), u"Harvix Version " HARVIX_VERSION ""_s);
        EXPECT_EQ(window->findChild<QPushButton *>(u"Command1"_s)->text(), window->windowTitle());
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 2000));
        delete window.data();
    }
}

TEST(FrmVersion, ResizingMovesNothing)
{
    frmVersion window;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.size(), QSize(312, 213));
    const QImage picture = versionPicture().toImage();
    EXPECT_EQ(picture.size(), QSize(320, 239));
    EXPECT_FALSE(picture.hasAlphaChannel());
    const QStringList names{u"Picture1"_s, u"Picture2"_s, u"Command1"_s, u"Command2"_s};
    QList<QRect> before;
    for (const QString &n : names)
        before.append(window.findChild<QWidget *>(n)->geometry());
    EXPECT_EQ(before[0], QRect(0, 0, 313, 217));
    for (const QSize size : {QSize(800, 600), QSize(40, 30), QSize(312, 213)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        for (int i = 0; i < names.size(); ++i)
            EXPECT_EQ(window.findChild<QWidget *>(names[i])->geometry(), before[i])
                << names[i].toStdString();
    }
}

} // namespace
