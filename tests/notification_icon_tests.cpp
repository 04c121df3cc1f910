// What each notification-icon operation hands to the shell, and the lines
// it logs when the shell refuses.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app_state.h"
#include "cooling_mode.h"
#include "log_reader.h"
#include "notification_icon.h"
#include "shell_recorder.h"
#include "tray_fixture.h"

using Lines = std::vector<std::string>;

namespace {

const HWND kWindow = reinterpret_cast<HWND>(0x1234);
const char kAddFailed[] = "AddNotificationIcon(): Shell_NotifyIcon( NIM_ADD, &nid ) failed.\n";
const char kDeleteFailed[] = "DeleteNotificationIcon(): Shell_NotifyIcon( NIM_DELETE, &nid ) failed.\n";

class NotificationIconTest : public TrayTest {
protected:
    ShellRecorder shell;
};

} // namespace

TEST_F(NotificationIconTest, IconAndTooltipFollowTheMode)
{
    EXPECT_TRUE(AddNotificationIcon(kWindow, On));
    EXPECT_TRUE(AddNotificationIcon(kWindow, Off));
    EXPECT_TRUE(AddNotificationIcon(kWindow, 7));
    thermalState.mode = On;
    EXPECT_TRUE(ChangeNotificationTip(kWindow));
    thermalState.mode = Off;
    EXPECT_TRUE(ChangeNotificationTip(kWindow));
    EXPECT_TRUE(RestoreTooltip(kWindow));
    EXPECT_TRUE(DeleteNotificationIcon(kWindow));

    EXPECT_EQ((Lines{
                  "NIM_ADD size 956 id 0 flags 0x87 callback 0x8001 tip 'Vorn Kelvane - On' icon",
                  "NIM_ADD size 956 id 0 flags 0x87 callback 0x8001 tip 'Vorn Kelvane - Off' icon",
                  "NIM_ADD size 956 id 0 flags 0x87 callback 0x8001 tip 'Vorn Kelvane - Off' icon",
                  "NIM_MODIFY size 956 id 0 flags 0x86 tip 'Vorn Kelvane - On' icon",
                  "NIM_MODIFY size 956 id 0 flags 0x86 tip 'Vorn Kelvane - Off' icon",
                  "NIM_MODIFY size 956 id 0 flags 0x80",
                  "NIM_DELETE size 956 id 0 flags 0x0",
              }),
              shell.Described());
    for (const NotifyCall& call : shell.calls)
        EXPECT_EQ(kWindow, call.data.hWnd);
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(NotificationIconTest, ShellGetsTheIconGroupOfTheMode)
{
    // The shell is handed group 101 for On and 102 for anything else, in
    // the small size; compared by picture, as each call loads its own.
    HICON groups[2] = {};
    ASSERT_EQ(S_OK, LoadIconMetric(app.instance, MAKEINTRESOURCEW(101), LIM_SMALL, &groups[0]));
    ASSERT_EQ(S_OK, LoadIconMetric(app.instance, MAKEINTRESOURCEW(102), LIM_SMALL, &groups[1]));
    const std::vector<uint32_t> on = IconPixels(groups[0]), off = IconPixels(groups[1]);
    ASSERT_NE(on, off);

    AddNotificationIcon(kWindow, On);
    AddNotificationIcon(kWindow, Off);
    AddNotificationIcon(kWindow, 7);
    for (KelvaneMode mode : {On, Off}) {
        thermalState.mode = mode;
        ChangeNotificationTip(kWindow);
    }

    const bool expectedOn[] = {true, false, false, true, false};
    ASSERT_EQ(5u, shell.calls.size());
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(shell.calls[i].Describe());
        EXPECT_TRUE(IconPixels(shell.calls[i].icon) == (expectedOn[i] ? on : off))
            << "expected group " << (expectedOn[i] ? 101 : 102);
    }
    DestroyIcon(groups[0]);
    DestroyIcon(groups[1]);
}

TEST_F(NotificationIconTest, ChangeRemovesAndAddsAgain)
{
    thermalState.mode = On;

    EXPECT_TRUE(ChangeNotificationIcon(kWindow));

    EXPECT_EQ((Lines{"NIM_DELETE size 956 id 0 flags 0x0",
                     "NIM_ADD size 956 id 0 flags 0x87 callback 0x8001 tip 'Vorn Kelvane - On' icon"}),
              shell.Described());
    EXPECT_EQ(Lines{}, ReadLogMessages());
}

TEST_F(NotificationIconTest, ChangeOfAnIconAlreadyGoneStillAdds)
{
    shell.failures = {0, 1};

    EXPECT_TRUE(ChangeNotificationIcon(kWindow));

    EXPECT_EQ(2u, shell.calls.size());
    EXPECT_EQ((Lines{kDeleteFailed, "ChangeNotificationIcon(): Shell_NotifyIcon( NIM_DELETE, &nid ) failed.\n"}),
              ReadLogMessages());
}

TEST_F(NotificationIconTest, EachRefusalIsLogged)
{
    shell.failures = {0, 100};

    EXPECT_FALSE(AddNotificationIcon(kWindow, On));
    EXPECT_FALSE(DeleteNotificationIcon(kWindow));
    EXPECT_FALSE(ChangeNotificationTip(kWindow));
    EXPECT_FALSE(RestoreTooltip(kWindow));
    EXPECT_FALSE(ChangeNotificationIcon(kWindow));

    EXPECT_EQ((Lines{kAddFailed, kDeleteFailed,
                     "ChangeNotificationTip(): Shell_NotifyIcon( NIM_MODIFY, &nid ) failed.\n",
                     "RestoreTooltip(): Shell_NotifyIcon( NIM_MODIFY, &nid ) failed.\n", kDeleteFailed,
                     "ChangeNotificationIcon(): Shell_NotifyIcon( NIM_DELETE, &nid ) failed.\n", kAddFailed,
                     "ChangeNotificationIcon(): AddNotificationIcon( hwnd, GetKelvaneMode() ) failed.\n"}),
              ReadLogMessages());
}
