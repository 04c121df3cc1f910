// What each notification-icon operation hands to the shell, and the lines
// it logs when the shell refuses.
#include <windows.h>

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

TEST_F(NotificationIconTest, OnAndOffIconsDiffer)
{
    // Each add loads its own icon; compare the pictures, not the handles.
    AddNotificationIcon(kWindow, On);
    AddNotificationIcon(kWindow, Off);
    ASSERT_EQ(2u, shell.calls.size());
    EXPECT_TRUE(shell.calls[0].data.hIcon != nullptr);
    EXPECT_TRUE(shell.calls[1].data.hIcon != nullptr);
    HICON on = LoadIconW(app.instance, MAKEINTRESOURCEW(101));
    HICON off = LoadIconW(app.instance, MAKEINTRESOURCEW(102));
    EXPECT_TRUE(on != nullptr && off != nullptr && on != off);
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
