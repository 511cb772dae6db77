// The settings sheet driven as a user would, from a helper thread, over the tests' own settings
// key: what OK writes (and that other processes are told), what a refused password
// leaves alone, which ports are offered, and the help on its controls.
#include "core/crc32.h"
#include "core/live_objects.h"
#include "core/shared_settings_section.h"
#include "link/tcp_link.h"
#include "pages/settings_sheet_extension.h"
#include "protocol/registry_support.h"
#include "resources/resource_ids.h"
#include "support/dialog_driver.h"

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace dm::test {

namespace {

HWND CurrentPage(HWND sheet)
{
    return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

void Choose(HWND page, int comboId, const char* text)
{
    HWND combo = GetDlgItem(page, comboId);
    const LRESULT index =
        SendMessageA(combo, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(text));
    ASSERT_NE(index, CB_ERR) << text;
    SendMessageA(combo, CB_SETCURSEL, WPARAM(index), 0);
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), LPARAM(combo));
}

std::vector<std::string> ComboItems(HWND page, int comboId)
{
    std::vector<std::string> items;
    HWND combo = GetDlgItem(page, comboId);
    for (LRESULT i = 0, n = SendMessageA(combo, CB_GETCOUNT, 0, 0); i < n; ++i) {
        char text[64] = {};
        SendMessageA(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

class SettingsSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(StartSockets());
        ForceDeleteTree(HKEY_LOCAL_MACHINE, TestStore().productKey);
        // Stored settings, so that loading shows no first-run message.
        WriteRaw(Connection(), nullptr, REG_SZ, std::string("COM2") + '\0');
        WriteRaw(Connection() + "\\TCP/IP", "Address", REG_SZ, std::string("10.0.0.1") + '\0');
        WriteRaw(Connection() + "\\TCP/IP", "PassKey", REG_DWORD,
                 Dword(ConnectionSettings::DefaultPassKey() ^ ConnectionSettings::kPassKeyMask));
    }
    void TearDown() override { ForceDeleteTree(HKEY_LOCAL_MACHINE, TestStore().productKey); }

    static std::string Connection() { return TestStore().SettingsKey() + "\\Connection"; }

    // Runs the sheet on this thread while `user` works it from another.
    static void RunSheet(const std::function<void(HWND sheet)>& user)
    {
        const long objectsBefore = ModuleCounts::Objects();
        ShellPropertySheetExtension* sheet = ShellPropertySheetExtension::New(TestStore());
        ASSERT_TRUE(sheet);
        DialogDriver driver(user);
        EXPECT_EQ(sheet->ShowSettingsSheet(nullptr), S_OK);
        EXPECT_TRUE(driver.Found());
        EXPECT_FALSE(driver.ForcedClose()) << "the sheet was left open";
        sheet->Release();
        EXPECT_EQ(ModuleCounts::Objects(), objectsBefore) << "the pages' references were not given back";
    }
};

TEST_F(SettingsSheetTest, TcpIpIsWrittenOnOkOnlyOnceThePasswordsMatchAndOtherProcessesAreTold)
{
    const auto before = ReadRaw(Connection() + "\\TCP/IP", "PassKey");
    const uint32_t stamp = SharedSection().settingsStamp;
    const DWORD ui = GetCurrentThreadId();
    RunSheet([&](HWND sheet) {
        HWND page = CurrentPage(sheet);
        std::vector<std::string> ports = ComboItems(page, IDC_CONN_PORT);
        std::sort(ports.begin(), ports.end());
        EXPECT_EQ(ports, (std::vector<std::string> {"COM1", "COM2", "COM4"}));
        EXPECT_EQ(ComboItems(page, IDC_CONN_TYPE), (std::vector<std::string> {"Serial", "TCP/IP"}));
        EXPECT_GT(SendDlgItemMessageA(page, IDC_CONN_SPEED, CB_GETCOUNT, 0, 0), 0);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(page, IDC_CONN_PORT)));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDC_CONN_ADDRESS)));
        Choose(page, IDC_CONN_TYPE, "TCP/IP");
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDC_CONN_PORT)));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(page, IDC_CONN_ADDRESS)));
        SetDlgItemTextA(page, IDC_CONN_ADDRESS, "192.168.1.20");
        SetDlgItemTextA(page, IDC_CONN_PASSWORD, "sesame");
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        HWND box = WaitForOtherDialog(ui, sheet);
        EXPECT_TRUE(box) << "no message about the passwords";
        if (box) {
            const std::vector<std::string> texts = StaticTexts(box);
            EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::string& text) {
                return text.find("Passwords do not match") != std::string::npos;
            }));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
        }
        EXPECT_TRUE(IsWindow(sheet)) << "a refused password keeps the sheet open";
        EXPECT_EQ(ReadRaw(Connection(), nullptr)->bytes, std::string("COM2") + '\0');
        EXPECT_EQ(ReadRaw(Connection() + "\\TCP/IP", "PassKey"), before);
        EXPECT_EQ(SharedSection().settingsStamp, stamp) << "nothing saved, nobody told to reload";

        SetDlgItemTextA(page, IDC_CONN_CONFIRM, "sesame");
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(sheet); }));
    });

    EXPECT_EQ(ReadRaw(Connection(), nullptr)->bytes, std::string("TCP/IP") + '\0');
    EXPECT_EQ(ReadRaw(Connection() + "\\TCP/IP", "Address")->bytes,
              std::string("192.168.1.20") + '\0');
    const uint32_t key = ComputeCrc32("sesame");
    EXPECT_EQ(ReadRaw(Connection() + "\\TCP/IP", "PassKey")->bytes,
              Dword(key ^ ConnectionSettings::kPassKeyMask));
    EXPECT_NE(ReadRaw(Connection() + "\\TCP/IP", "PassKey")->bytes, Dword(key));
    EXPECT_NE(SharedSection().settingsStamp, stamp) << "other processes keep the old settings";
}

TEST_F(SettingsSheetTest, OptionsRejectBadNumbersAndEveryHelpedControlShowsItsHelpOnF1OrARightClick)
{
    RunSheet([](HWND sheet) {
        SendMessageA(sheet, PSM_SETCURSEL, 1, 0);
        HWND page = CurrentPage(sheet);
        // A packet size out of range shows the stored one again when the box is left.
        SetDlgItemTextA(page, IDC_OPT_PACKET_SIZE, "70000");
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_OPT_PACKET_SIZE, EN_KILLFOCUS), 0);
        EXPECT_EQ(WindowText(GetDlgItem(page, IDC_OPT_PACKET_SIZE)), "512");
        SetDlgItemTextA(page, IDC_OPT_PACKET_SIZE, "65535");
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_OPT_PACKET_SIZE, EN_KILLFOCUS), 0);
        EXPECT_EQ(WindowText(GetDlgItem(page, IDC_OPT_PACKET_SIZE)), "65535");

        for (int id : {IDC_OPT_PACKET_SIZE, IDC_OPT_MAX_RETRIES, IDC_OPT_LOG_ENABLE,
                       IDC_OPT_DESKTOP_ICON}) {
            HELPINFO help = {sizeof help, HELPINFO_WINDOW, id, GetDlgItem(page, id), 0, {0, 0}};
            SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
            // On a loaded machine the popup may take a moment to show its text.
            EXPECT_TRUE(WaitFor([&] {
                HWND popup = FindOwnWindow("QuenzorTooltipWindowClass");
                return popup && !WindowText(popup).empty();
            }, std::chrono::seconds(5))) << "no help for control " << id;
        }
        // A right click on a box inside a group box, and "What's This?" from its menu.
        HWND shown = FindOwnWindow("QuenzorTooltipWindowClass");
        SendMessageA(shown, WM_KEYDOWN, VK_ESCAPE, 0);
        SendMessageA(shown, WM_KEYUP, VK_ESCAPE, 0);
        EXPECT_TRUE(RightClickFirstCommand(GetDlgItem(page, IDC_OPT_LOG_ENABLE), [&] {
            return (shown = FindOwnWindow("QuenzorTooltipWindowClass")) != nullptr;
        })) << "\"What's This?\" showed no help on a right click inside a group box";
        // A key pressed and let go while it shows puts it away.
        SendMessageA(shown, WM_KEYDOWN, VK_ESCAPE, 0);
        SendMessageA(shown, WM_KEYUP, VK_ESCAPE, 0);
        EXPECT_FALSE(IsWindow(shown));

        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(sheet); }));
    });
    EXPECT_EQ(ReadRaw(Connection(), "Packet Size")->bytes, Dword(65535));
}
TEST_F(SettingsSheetTest, OneObjectCarriesTheSheetAndTheSetupCommands)
{
    IShellExtInit* init = ShellPropertySheetExtension::New(TestStore());
    ASSERT_TRUE(init);
    IContextMenu* menu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    HMENU popup = CreatePopupMenu();
    // The commands themselves are the setup menu's, tested with it.
    EXPECT_EQ(menu->QueryContextMenu(popup, 0, 100, 200, CMF_NORMAL), MAKE_HRESULT(0, 0, 3));
    DestroyMenu(popup);
    menu->Release();
    EXPECT_EQ(init->Release(), 0u);
}

}  // namespace
}  // namespace dm::test
