#include <QApplication>

#include <gtest/gtest.h>

// Every test executable gets one QApplication (offscreen in CTest), so widget tests and the
// event loops of the transfer service work alike.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Harvix"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
