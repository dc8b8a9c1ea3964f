// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/imageviewport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

// A picture of the given size in pixels (15 twips each).
QImage picture(int widthPx, int heightPx)
{
    QImage image(widthPx, heightPx, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    return image;
}

struct MaximumCase {
    int picture;
    int viewport;
    int expected;
};

class ScrollMaximum : public ::testing::TestWithParam<MaximumCase> {};

TEST_P(ScrollMaximum, FollowsTheMarginRule)
{
    const MaximumCase c = GetParam();
    EXPECT_EQ(ImageViewport::scrollMaximum(c.picture, c.viewport), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Heights, ScrollMaximum,
    ::testing::Values(MaximumCase{5294, 5295, 0}, MaximumCase{5295, 5295, 300},
                      MaximumCase{5296, 5295, 301}, MaximumCase{0, 5295, 0},
                      MaximumCase{8655, 8655, 300}, MaximumCase{8640, 8655, 0},
                      // Far beyond 16 bits: a 2518-pixel picture and a 100000-pixel one.
                      MaximumCase{37770, 5295, 32775}, MaximumCase{1500000, 5295, 1495005}),
    [](const ::testing::TestParamInfo<MaximumCase> &info) {
        return "picture" + std::to_string(info.param.picture) + "_viewport" +
               std::to_string(info.param.viewport);
    });

TEST(ImageViewport, StartsWithTheDesignValues)
{
    ImageViewport view;
    EXPECT_EQ(view.objectName(), QStringLiteral("Picture1"));
    EXPECT_EQ(view.VScroll1()->maximum(), 3276);
    EXPECT_EQ(view.HScroll1()->maximum(), 3276);
    EXPECT_EQ(view.VScroll1()->singleStep(), 50);
    EXPECT_EQ(view.VScroll1()->pageStep(), 100);
    EXPECT_EQ(view.imageLeft(), 0);
    EXPECT_EQ(view.imageTop(), 0);
    // Moving a scroll bar before any picture only moves the empty image.
    view.HScroll1()->setValue(150);
    EXPECT_EQ(view.imageLeft(), -150);
    EXPECT_EQ(view.Image1()->x(), -10);
}

TEST(ImageViewport, PictureSmallerThanTheViewportSitsAtTheCorner)
{
    ImageViewport view;
    view.VScroll1()->setValue(1000);
    view.HScroll1()->setValue(2000);
    view.setPicture(picture(100, 352)); // 5280 twips high: just under the viewport
    EXPECT_EQ(view.VScroll1()->maximum(), 0);
    EXPECT_EQ(view.HScroll1()->maximum(), 0);
    EXPECT_EQ(view.imageTop(), 0);
    EXPECT_EQ(view.imageLeft(), 0);
    EXPECT_EQ(view.Image1()->pos(), QPoint(0, 0));
    EXPECT_EQ(view.imageWidth(), 1500);
    EXPECT_EQ(view.imageHeight(), 5280);
}

TEST(ImageViewport, PictureAsHighAsTheViewportGetsTheMargin)
{
    ImageViewport view;
    view.setPicture(picture(10, 353)); // 5295 twips
    EXPECT_EQ(view.VScroll1()->maximum(), 300);
    EXPECT_EQ(view.HScroll1()->maximum(), 0);
}

TEST(ImageViewport, NewPictureKeepsTheOffsetsUnlessTheRangeShrinks)
{
    ImageViewport view;
    view.setPicture(picture(1000, 1000));
    view.HScroll1()->setValue(1000);
    view.VScroll1()->setValue(2000);
    ASSERT_EQ(view.imageLeft(), -1000);
    ASSERT_EQ(view.imageTop(), -2000);

    view.setPicture(picture(900, 800)); // maxima 13500-8655+300 and 12000-5295+300
    EXPECT_EQ(view.imageLeft(), -1000);
    EXPECT_EQ(view.imageTop(), -2000);
    EXPECT_EQ(view.Image1()->pos(), QPoint(-67, -133));

    view.setPicture(picture(600, 450)); // maxima 645 and 1755: both values come down
    EXPECT_EQ(view.HScroll1()->value(), 645);
    EXPECT_EQ(view.VScroll1()->value(), 1755);
    EXPECT_EQ(view.imageLeft(), -645);
    EXPECT_EQ(view.imageTop(), -1755);
}

TEST(ImageViewport, TallPictureScrollsToItsFarEdge)
{
    ImageViewport view;
    view.setPicture(picture(3000, 2600)); // 45000 x 39000 twips: beyond 16-bit ranges
    EXPECT_EQ(view.VScroll1()->maximum(), 39000 - 5295 + 300);
    EXPECT_EQ(view.HScroll1()->maximum(), 45000 - 8655 + 300);
    // Where the two bars meet, the window's background shows, not the picture under them.
    const QRect v = view.VScroll1()->geometry();
    const QRect h = view.HScroll1()->geometry();
    const QPoint corner =
        view.VScroll1()->parentWidget()->mapTo(&view, QPoint(v.center().x(), h.center().y()));
    EXPECT_EQ(view.grab().toImage().pixelColor(corner), view.palette().color(QPalette::Window));
    view.VScroll1()->setValue(view.VScroll1()->maximum());
    view.HScroll1()->setValue(view.HScroll1()->maximum());
    // The picture's bottom-right corner is now inside the viewport, with the margin.
    EXPECT_EQ(view.imageTop() + view.imageHeight(), 5295 - 300);
    EXPECT_EQ(view.imageLeft() + view.imageWidth(), 8655 - 300);
}

TEST(ImageViewport, WheelMovesByTheDesktopsLinesUpToAThirdOfTheViewport)
{
    ImageViewport view;
    view.setPicture(picture(3000, 2600));
    const auto wheel = [&](int angle, Qt::KeyboardModifiers modifiers) {
        QWheelEvent event(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, angle), Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &event);
    };
    const int lines = QApplication::wheelScrollLines();
    const auto restoreLines = qScopeGuard([lines] { QApplication::setWheelScrollLines(lines); });

    QApplication::setWheelScrollLines(2); // two lines of 20 pixels: 600 twips a notch
    wheel(-120, Qt::NoModifier);          // one notch towards the user: down
    EXPECT_EQ(view.VScroll1()->value(), 600);
    EXPECT_EQ(view.HScroll1()->value(), 0);
    EXPECT_EQ(view.Image1()->y(), -40);

    wheel(-240, Qt::ShiftModifier); // with Shift: two notches to the right
    EXPECT_EQ(view.HScroll1()->value(), 1200);
    EXPECT_EQ(view.VScroll1()->value(), 600);
    EXPECT_EQ(view.Image1()->x(), -80);

    // Ten lines would be 3000 twips: a notch stops at a third of the viewport's height (5295)
    // and, sideways, of its width (8655).
    QApplication::setWheelScrollLines(10);
    wheel(-120, Qt::NoModifier);
    EXPECT_EQ(view.VScroll1()->value(), 600 + 1765);
    wheel(-120, Qt::ShiftModifier);
    EXPECT_EQ(view.HScroll1()->value(), 1200 + 2885);

    wheel(3 * 120, Qt::NoModifier); // back up past the top: the scroll bar stops at 0
    EXPECT_EQ(view.VScroll1()->value(), 0);
    EXPECT_EQ(view.Image1()->y(), 0);
}

TEST(ImageViewport, ClickGivesTheKeysThatScrollThePicture)
{
    QWidget window;
    auto *before = new QLineEdit(&window);
    auto *view = new ImageViewport(&window);
    view->move(0, 30);
    auto *after = new QLineEdit(&window);
    after->move(0, 400);
    view->setPicture(picture(3000, 2600));
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    // Tab passes the picture by.
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_TRUE(after->hasFocus());

    // A click on the picture gives it the focus, and End takes it to the picture's bottom.
    QTest::mouseClick(view->Image1(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    ASSERT_TRUE(view->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    EXPECT_EQ(view->VScroll1()->value(), view->VScroll1()->maximum());
    EXPECT_EQ(view->imageTop() + view->imageHeight(), 5295 - 300);
    EXPECT_EQ(view->HScroll1()->value(), 0);
}

} // namespace
