#include "app/display_session.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct DisplayCase {
    const char *name;
    QStringList environment; // NAME=VALUE
    QStringList arguments;   // after the program's name
    DisplayChoice choice;
};

void PrintTo(const DisplayCase &c, std::ostream *out) { *out << c.name; }

class DisplayChoiceTest : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayChoiceTest, FromTheSessionsEnvironment)
{
    const DisplayCase &c = GetParam();
    QProcessEnvironment environment;
    for (const QString &variable : c.environment)
        environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    EXPECT_EQ(chooseDisplay(environment, QStringList{QStringLiteral("kingyo")} + c.arguments), c.choice);
}

const QStringList kWaylandSession = {"WAYLAND_DISPLAY=wayland-0", "XDG_SESSION_TYPE=wayland"};

INSTANTIATE_TEST_SUITE_P(
    Sessions, DisplayChoiceTest,
    ::testing::Values(
        DisplayCase{"x11_session", {"DISPLAY=:0", "XDG_SESSION_TYPE=x11"}, {}, DisplayChoice::X11},
        DisplayCase{"wayland_session_with_xwayland", kWaylandSession + QStringList{"DISPLAY=:0"}, {},
                    DisplayChoice::X11},
        DisplayCase{"wayland_display_alone_names_no_session", {"WAYLAND_DISPLAY=wayland-1", "DISPLAY=:1"}, {},
                    DisplayChoice::X11},
        DisplayCase{"wayland_without_xwayland", kWaylandSession, {}, DisplayChoice::NoDisplay},
        DisplayCase{"no_session_at_all", {}, {}, DisplayChoice::NoDisplay},
        DisplayCase{"empty_display", {"DISPLAY="}, {}, DisplayChoice::NoDisplay},
        DisplayCase{"users_platform_without_display", {"QT_QPA_PLATFORM=offscreen"}, {}, DisplayChoice::UsersPlatform},
        DisplayCase{"users_wayland_platform_kept", kWaylandSession + QStringList{"DISPLAY=:0", "QT_QPA_PLATFORM=wayland"},
                    {}, DisplayChoice::UsersPlatform},
        DisplayCase{"empty_platform_is_no_choice", {"QT_QPA_PLATFORM=", "DISPLAY=:0"}, {}, DisplayChoice::X11},
        DisplayCase{"platform_argument", {}, {"-platform", "offscreen"}, DisplayChoice::UsersPlatform},
        DisplayCase{"platform_argument_with_two_dashes", {"DISPLAY=:0"}, {"--platform", "vnc"},
                    DisplayChoice::UsersPlatform},
        DisplayCase{"platform_argument_without_a_name", {}, {"-platform"}, DisplayChoice::NoDisplay},
        DisplayCase{"other_arguments", {"DISPLAY=:0"}, {"-style", "fusion"}, DisplayChoice::X11}),
    [](const auto &info) { return std::string(info.param.name); });

// The real program where there is nothing to show the bowl on.
struct RunWithoutDisplay {
    const char *name;
    QStringList environment; // added to a session with no display and no platform
    QString lastLine;
    bool onlyLine; // Qt itself names why a display it tried could not be opened
};

void PrintTo(const RunWithoutDisplay &c, std::ostream *out) { *out << c.name; }

class ProgramWithoutDisplayTest : public ::testing::TestWithParam<RunWithoutDisplay> {};

TEST_P(ProgramWithoutDisplayTest, SaysSoInALineAndEndsWithCodeOne)
{
    const RunWithoutDisplay &c = GetParam();
    QTemporaryDir folder; // nothing the program might store lands in the build tree
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(variable));
    for (const QString &variable : c.environment)
        environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    QProcess kingyo;
    kingyo.setProcessEnvironment(environment);
    kingyo.setWorkingDirectory(folder.path());
    kingyo.start(QStringLiteral(KINGYO_BINARY), {});
    ASSERT_TRUE(kingyo.waitForFinished(20000)) << "still running without a display";

    EXPECT_EQ(kingyo.exitStatus(), QProcess::NormalExit) << "crashed or aborted";
    EXPECT_EQ(kingyo.exitCode(), kNoDisplayExitCode);
    const QStringList lines = QString::fromUtf8(kingyo.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.last(), c.lastLine);
    if (c.onlyLine) {
        EXPECT_EQ(lines.size(), 1) << lines.join(QLatin1Char('\n')).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, ProgramWithoutDisplayTest,
    ::testing::Values(RunWithoutDisplay{"no_display", {}, noDisplayMessage(), true},
                      RunWithoutDisplay{"wayland_without_xwayland", kWaylandSession, noDisplayMessage(), true},
                      RunWithoutDisplay{"display_nobody_serves", {"DISPLAY=:kingyo-none"},
                                        unreachableDisplayMessage(":kingyo-none"), false}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo
