// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Every test executable gets one QApplication (offscreen in CTest), so widget tests and the
// event loops of the transfer service work alike.
int main(int argc, char **argv)
{
    // Every test runs offscreen, in a UTF-8 locale, without a proxy for the loopback servers,
    // also when CTest's test discovery starts the executable; a variable already set wins.
    const std::pair<const char *, const char *> defaults[] = {
        {"QT_QPA_PLATFORM", "offscreen"},
        {"LANG", "C.UTF-8"},
        {"LC_ALL", "C.UTF-8"},
        {"QTWEBENGINE_DISABLE_SANDBOX", "1"},
        {"QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu"},
        {"no_proxy", "127.0.0.1,localhost"},
        {"NO_PROXY", "127.0.0.1,localhost"},
    };
    for (const auto &[name, value] : defaults) {
        if (!qEnvironmentVariableIsSet(name))
            qputenv(name, value);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Harvix"));
    QApplication::setOrganizationName(QStringLiteral("harvix"));
    // Settings the windows keep go to a folder of the test's own, never to the user's.
    QTemporaryDir settings;
    if (!settings.isValid())
        return 1;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
