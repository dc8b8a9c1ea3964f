// SPDX-License-Identifier: GPL-3.0-or-later
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

// Runs the real program without any display it could reach.
void runWithoutDisplay(QProcess &process, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(HARVIX_PROGRAM), arguments);
    process.waitForFinished(30000);
}

TEST(CommandLine, VersionAndHelpAnswerWithoutADisplay)
{
    const std::pair<QStringList, QString> cases[] = {
        {{QStringLiteral("--version")}, QStringLiteral("harvix " HARVIX_VERSION "\n")},
        // The first of the two wins; other arguments around them are ignored.
        {{QStringLiteral("--other"), QStringLiteral("--version"), QStringLiteral("--help")},
         QStringLiteral("harvix " HARVIX_VERSION "\n")},
        {{QStringLiteral("--help")}, QString()},
    };
    for (const auto &[arguments, expected] : cases) {
        QProcess process;
        runWithoutDisplay(process, arguments);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << arguments.join(u' ').toStdString();
        EXPECT_EQ(process.exitCode(), 0) << arguments.join(u' ').toStdString();
        if (expected.isEmpty()) {
            EXPECT_TRUE(out.startsWith(QStringLiteral("Usage: harvix"))) << out.toStdString();
            EXPECT_TRUE(out.contains(QStringLiteral("--version")));
        } else {
            EXPECT_EQ(out, expected);
        }
    }
}

} // namespace
