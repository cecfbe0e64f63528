#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace kingyo::e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string contentsOf(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

mode_t modeOf(const fs::path &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Clicks a spot of a window's client area, given in pixels from its top-left corner.
void clickIn(X11Client &x11, xcb_window_t window, int x, int y)
{
    const Geometry at = x11.geometry(window);
    xdotool(mouseAt(at.x + x, at.y + y) + " sleep 0.2 click 1 sleep 0.2");
}

void type(const std::string &text) { xdotool("type --delay 30 '" + text + "'"); }

bool anyTitled(X11Client &x11, const std::vector<std::string> &titles)
{
    for (const xcb_window_t window : x11.windowsOfClass("kingyo")) {
        if (std::find(titles.begin(), titles.end(), x11.title(window)) != titles.end())
            return true;
    }
    return false;
}

class InstalledCopy : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(x11.connected()) << "needs an X display (run through scripts/with-x11)"; }

    X11Client x11;
    KingyoFolder folder; // no "★MailData" beside the program: an installed copy
};

TEST_F(InstalledCopy, StoresItsSettingsInThePerUserFolderAndFindsThemAtTheNextStart)
{
    const fs::path dataHome = folder.root() / "data";
    const std::vector<std::pair<std::string, std::string>> environment = {{"XDG_DATA_HOME", dataHome.string()}};
    const fs::path perUser = dataHome / "kingyo";
    x11.warpPointer(700, 500);
    {
        KingyoProcess kingyo(folder, environment);
        // The server dialog (on top) first: its POP3 box, then its OK button.
        const xcb_window_t server = findTitled(x11, kingyo, "サーバー");
        ASSERT_NE(server, XCB_NONE) << "no server dialog on a first run\n" << kingyo.log();
        // Both dialogs in their places, clear of the bowl.
        const xcb_window_t account = findTitled(x11, kingyo, "ID,PASS");
        ASSERT_NE(account, XCB_NONE) << "no account dialog on a first run";
        const xcb_window_t bowl = findBowl(x11, kingyo);
        ASSERT_TRUE(waitUntilPlaced(x11, server, {bowl}) && waitUntilPlaced(x11, account, {bowl}))
            << "the dialogs were not placed";
        clickIn(x11, server, 48, 73);
        type("127.0.0.1:1110");
        clickIn(x11, server, 74, 180);
        ASSERT_TRUE(waitUntil(kPatience, [&] { return fs::exists(perUser / "vbmail.ini"); }))
            << "the server file was not stored\n" << kingyo.log();

        // The account dialog: its save box has the focus; Enter in a box is OK.
        clickIn(x11, account, 36, 76);
        clickIn(x11, account, 104, 17);
        type("frank");
        clickIn(x11, account, 104, 49);
        type("secret-1");
        xdotool("key Return");
        ASSERT_TRUE(waitUntil(kPatience, [&] { return fs::exists(perUser / "★MailData/iniIdPass.ini"); }))
            << "the account was not stored\n" << kingyo.log();
        EXPECT_FALSE(kingyo.exited());
    }
    EXPECT_EQ(contentsOf(perUser / "vbmail.ini"), "SMTP=\r\nPOP3=127.0.0.1:1110\r\nMAIL=\r\nAPOP=0\r\n");
    EXPECT_EQ(contentsOf(perUser / "★MailData/iniIdPass.ini"),
              "[EXEINI]\r\nNAME=frank\r\nNAME2=secret-1\r\nNAME3=1\r\n");
    EXPECT_EQ(modeOf(perUser), 0700u);
    EXPECT_EQ(modeOf(perUser / "★MailData"), 0700u);
    EXPECT_EQ(modeOf(perUser / "★MailData/iniIdPass.ini"), 0600u);
    EXPECT_TRUE(fs::is_empty(folder.work())) << "nothing is stored in the current folder";
    EXPECT_FALSE(fs::exists(folder.bin() / "★MailData")) << "nothing is stored beside the program";
    EXPECT_FALSE(fs::exists(folder.home() / ".local")) << "XDG_DATA_HOME is where the settings go";

    // The next start finds the server and the account: no dialog opens.
    KingyoProcess again(folder, environment);
    ASSERT_NE(findBowl(x11, again), XCB_NONE) << again.log();
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(anyTitled(x11, {"サーバー", "ID,PASS"})) << "a settings dialog opened at the second start";
    EXPECT_FALSE(again.exited());
}

TEST_F(InstalledCopy, RunsAndSaysWhyWhenThePerUserFolderCannotBeMade)
{
    const fs::path blocked = folder.root() / "blocked";
    std::ofstream(blocked) << "a file where the data home should be";
    KingyoProcess kingyo(folder, {{"XDG_DATA_HOME", blocked.string()}});
    ASSERT_NE(findBowl(x11, kingyo), XCB_NONE) << kingyo.log();
    const std::string said = "kingyo: settings will not be stored: " + blocked.string() + " is not a folder";
    EXPECT_TRUE(waitUntil(kPatience, [&] { return kingyo.log().find(said) != std::string::npos; })) << kingyo.log();
    EXPECT_FALSE(kingyo.exited());
    EXPECT_EQ(contentsOf(blocked), "a file where the data home should be");
    EXPECT_TRUE(fs::is_empty(folder.work()));
}

} // namespace
} // namespace kingyo::e2e
