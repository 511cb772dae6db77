// Setup over a COM port whose far end is the emulated Amiga playing a bare one
// (tools/with-com-pair, tools/with-setup-recorder): what crosses the line raw, what arrives
// through the protocol afterwards, and the questions on the way, answered from a helper thread.
// The menu commands that start it are checked on their own.
#include "core/registry.h"
#include "core/settings_registry.h"
#include "link/serial_link.h"
#include "protocol/remote_session.h"
#include "resources/string_ids.h"
#include "setup/serial_setup.h"
#include "setup/setup_context_menu.h"
#include "support/dialog_driver.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace fs = std::filesystem;

namespace dm {
namespace {

// Presses the next button of the script in each message box that comes up; a box beyond the
// script is cancelled and counted.
class BoxScript {
public:
    explicit BoxScript(std::vector<int> buttons) : buttons_(std::move(buttons))
    {
        const DWORD ui = GetCurrentThreadId();
        thread_ = std::thread([this, ui] {
            while (!stop_) {
                HWND box = test::FindDialog(ui);
                if (!box) {
                    Sleep(20);
                    continue;
                }
                std::string text;
                for (const std::string& line : test::StaticTexts(box))
                    text += line;
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    texts_.push_back(text);
                }
                if (next_ < buttons_.size()) {
                    test::PressButton(box, buttons_[next_++]);
                } else {
                    ++unexpected;
                    test::PressButton(box, IDCANCEL);
                    test::PressButton(box, IDOK);
                }
                for (int i = 0; i < 250 && IsWindow(box); ++i)
                    Sleep(20);
            }
        });
    }
    ~BoxScript() { Finish(); }
    std::vector<std::string> Finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return texts_;
    }
    std::atomic<int> unexpected {0};

private:
    std::vector<int> buttons_;
    size_t next_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_ {false};
    std::mutex lock_;
    std::vector<std::string> texts_;
};

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class SerialSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* pair = std::getenv("DROVEMARK_TEST_COM_PAIR");
        const char* farEnd = std::getenv("DROVEMARK_TEST_SETUP_DIR");
        if (!pair || !farEnd)
            GTEST_SKIP() << "runs under tools/with-com-pair and tools/with-setup-recorder";
        port_ = std::string(pair).substr(0, std::string(pair).find(','));
        far_ = std::string("Z:") + farEnd;
        std::replace(far_.begin(), far_.end(), '/', '\\');

        // The Amiga side's files as the installer leaves them: the ones the build made.
        std::string package = std::string("Z:") + DROVEMARK_AMIGA_PACKAGE;
        std::replace(package.begin(), package.end(), '/', '\\');
        fs::create_directories(pc_.Path() / "Amiga");
        for (const char* name :
             {"Setup.rexx", "Drovemark", "Drovemark.info", "ReadMe.txt", "ReadMe.txt.info"}) {
            files_[name] = test::ReadWholeFile(package + "\\" + name);
            if (files_[name].empty())
                GTEST_SKIP() << "no " << name << ": build the native preset's amiga-package";
            test::WriteWholeFile(pc_.File(std::string("Amiga\\") + name), files_[name]);
        }

        const std::string key = SettingsStore().SettingsKey();
        ASSERT_EQ(settings_.Create(HKEY_LOCAL_MACHINE, key, KEY_ALL_ACCESS), ERROR_SUCCESS);
        oldPath_ = ReadString(settings_.Get(), "Path", MAX_PATH);
        ASSERT_EQ(WriteString(settings_.Get(), "Path", pc_.Path().string()), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        if (!settings_)
            return;
        if (oldPath_)
            WriteString(settings_.Get(), "Path", *oldPath_);
        else
            RegDeleteValueA(settings_.Get(), "Path");
    }

    // The session with one connection, kept alive so that its record can be read afterwards.
    void Connect(bool serial)
    {
        RemoteSession::Config config;
        // Setup holds the connection lock for half a minute: tests beside it keep theirs.
        config.lockName = "DrovemarkSetupTestConnMutex";
        const std::string port = port_, log = pc_.File("pc.log");
        config.load = [serial, port, log](ConnectionSettings& settings) {
            ConnectionProfile profile;
            if (serial)
                profile.serialDevice = port;
            profile.baud = 57600;
            profile.port = 9;  // nothing listens: TCP/IP must never be reached
            profile.logFile = log;
            return settings.LoadProfile(profile);
        };
        ASSERT_TRUE(RemoteSession::Process().Configure(config));
        RemoteSession::Process().AddRef();
    }
    // The speed the serial entry keeps, read under the lock as every user does.
    uint32_t StoredBaudRate()
    {
        RemoteSession& session = RemoteSession::Process();
        uint32_t rate = 0;
        if (PacketChannel* channel = session.Open(false)) {
            if (channel->GetLink().Kind() == LinkKind::Serial)
                rate = static_cast<SerialLink&>(channel->GetLink()).BaudRate();
            session.Close();
        }
        return rate;
    }
    void Disconnect() { RemoteSession::Process().Release(); }

    void ExpectRaw(const std::string& bytes)
    {
        test::WriteWholeFile(far_ + "\\raw.count", std::to_string(bytes.size()));
        expectedRaw_ = bytes;
    }
    std::string Raw() const { return test::ReadWholeFile(far_ + "\\raw.bin"); }
    std::string PcLog() const { return test::ReadWholeFile(pc_.File("pc.log")); }
    std::string PeerLog() const { return test::ReadWholeFile(far_ + "\\peer.log"); }

    void ExpectFilesInRam()
    {
        for (const char* name : {"Drovemark", "Drovemark.info", "ReadMe.txt", "ReadMe.txt.info"})
            EXPECT_TRUE(test::ReadWholeFile(far_ + "\\ram\\" + name) == files_[name]) << name;
        EXPECT_FALSE(fs::exists(far_ + "\\ram\\Setup.rexx"));
        EXPECT_NE(PeerLog().find("PEER SETUP FINISHED"), std::string::npos);
    }

    test::ScratchFolder pc_;
    std::map<std::string, std::string> files_;
    std::string port_, far_, expectedRaw_;
    RegKey settings_;
    std::optional<std::string> oldPath_;
};

TEST_F(SerialSetupTest, NewerSystemsGetTheScriptThenTheProgramAndTheRestByProtocol)
{
    const std::string tail(4096, '\n');
    ExpectRaw(files_["Setup.rexx"] + tail + files_["Drovemark"] + tail);
    Connect(true);
    std::vector<std::string> asked;
    {
        BoxScript script({IDOK, IDYES, IDOK, IDOK, IDOK, IDOK});
        RunSerialSetup();
        asked = script.Finish();
        EXPECT_EQ(script.unexpected, 0);
    }
    ASSERT_EQ(asked.size(), 6u);
    EXPECT_NE(asked[1].find("gray Workbench screen"), std::string::npos);
    EXPECT_NE(asked[2].find("Input Buffer Size"), std::string::npos);
    EXPECT_NE(asked[3].find("Type  SER:  to  RAM:Setup"), std::string::npos);
    EXPECT_NE(asked[4].find("RX  RAM:Setup"), std::string::npos);
    EXPECT_NE(asked[5].find("Congratulations!"), std::string::npos);

    EXPECT_TRUE(Raw() == expectedRaw_) << Raw().size() << " raw bytes";
    ExpectFilesInRam();
    // Each file ended with a break; the line ran at the speed of a fresh Amiga, and the
    // connection keeps its own.
    const std::string log = PcLog();
    EXPECT_EQ(Count(log, "COM BREAK 800 ms"), 2u) << log;
    EXPECT_NE(log.find("OPENED AT 19200 BAUD"), std::string::npos);
    EXPECT_EQ(log.find("OPENED AT 57600 BAUD"), std::string::npos);
    EXPECT_EQ(StoredBaudRate(), 57600u);
    Disconnect();
}

TEST_F(SerialSetupTest, OlderSystemsGetTheProgramAndLineFeedsWithoutABreak)
{
    ExpectRaw(files_["Drovemark"] + std::string(4096, '\n'));
    Connect(true);
    std::vector<std::string> asked;
    {
        BoxScript script({IDOK, IDNO, IDOK, IDOK, IDOK, IDOK, IDOK});
        RunSerialSetup();
        asked = script.Finish();
        EXPECT_EQ(script.unexpected, 0);
    }
    ASSERT_EQ(asked.size(), 7u);
    EXPECT_NE(asked[2].find("Read Bits: 8"), std::string::npos);
    EXPECT_NE(asked[4].find("Ctrl+C"), std::string::npos);
    EXPECT_NE(asked[5].find("RAM:Setup"), std::string::npos);
    EXPECT_NE(asked[6].find("Congratulations!"), std::string::npos);
    EXPECT_TRUE(Raw() == expectedRaw_) << Raw().size() << " raw bytes";
    ExpectFilesInRam();
    EXPECT_EQ(PcLog().find("COM BREAK"), std::string::npos);
    EXPECT_EQ(StoredBaudRate(), 57600u);
    Disconnect();
}

TEST_F(SerialSetupTest, CancelAnywhereOrTcpSendsNothingAndChangesNothing)
{
    Connect(true);
    // The four questions before anything is sent, cancelled in turn.
    const std::vector<int> upTo = {IDOK, IDYES, IDOK, IDOK};
    for (size_t cancelAt = 0; cancelAt < upTo.size(); ++cancelAt) {
        std::vector<int> buttons(upTo.begin(), upTo.begin() + long(cancelAt));
        buttons.push_back(IDCANCEL);
        BoxScript script(buttons);
        RunSerialSetup();
        EXPECT_EQ(script.Finish().size(), cancelAt + 1);
        EXPECT_EQ(script.unexpected, 0) << "cancelled at " << cancelAt;
        EXPECT_EQ(StoredBaudRate(), 57600u);
    }
    Disconnect();

    Connect(false);
    std::vector<std::string> asked;
    {
        BoxScript script({IDOK});
        RunSerialSetup();
        asked = script.Finish();
    }
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("currently set to TCP/IP"), std::string::npos) << asked[0];
    Disconnect();
    Sleep(300);
    EXPECT_EQ(Raw(), "");
    EXPECT_EQ(PcLog().find("OPENED AT"), std::string::npos);

    // A link kept open between operations (a data object between two streams) is in use.
    Connect(true);
    RemoteSession& session = RemoteSession::Process();
    session.KeepOpen();
    ASSERT_TRUE(session.Open(true));
    session.Close();
    {
        BoxScript script({IDOK});
        RunSerialSetup();
        asked = script.Finish();
    }
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("conflict"), std::string::npos) << asked[0];
    EXPECT_TRUE(session.HasCurrentLink()) << "Setup closed a link that was kept open";
    session.EndKeepOpen();
    Disconnect();
    EXPECT_EQ(Raw(), "");
}

// The menu commands, with actions that only count.
std::atomic<int> setups {0}, pages {0};
void CountSetup()
{
    ++setups;
}
void CountPage()
{
    ++pages;
}

TEST(SetupContextMenuTest, OffersBothCommandsByVerbAndOffsetAndRefusesTheRest)
{
    SetupContextMenu menu({&CountSetup, &CountPage});
    HMENU popup = CreatePopupMenu();
    ASSERT_TRUE(popup);
    AppendMenuA(popup, MF_STRING, 1, "Properties");
    EXPECT_EQ(menu.QueryContextMenu(popup, 0, 100, 200, CMF_DEFAULTONLY), S_OK);
    EXPECT_EQ(GetMenuItemCount(popup), 1);
    EXPECT_EQ(menu.QueryContextMenu(popup, 1, 100, 200, CMF_NORMAL), MAKE_HRESULT(0, 0, 3));
    ASSERT_EQ(GetMenuItemCount(popup), 4);
    char text[64] = {};
    EXPECT_TRUE(GetMenuState(popup, 1, MF_BYPOSITION) & MF_SEPARATOR);
    GetMenuStringA(popup, 100, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "Setup");
    GetMenuStringA(popup, 101, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "Troubleshooting");
    DestroyMenu(popup);

    char buffer[128] = {};
    EXPECT_EQ(menu.GetCommandString(1, GCS_VERBA, nullptr, buffer, sizeof buffer), S_OK);
    EXPECT_STREQ(buffer, "troubleshooting");
    EXPECT_EQ(menu.GetCommandString(0, GCS_VERBA, nullptr, buffer, 5), E_UNEXPECTED);
    EXPECT_EQ(menu.GetCommandString(0, GCS_VERBA, nullptr, buffer, 6), S_OK);
    wchar_t wide[32] = {};
    EXPECT_EQ(menu.GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(wide), 32),
              S_OK);
    EXPECT_STREQ(wide, L"setup");
    EXPECT_EQ(menu.GetCommandString(0, GCS_HELPTEXTA, nullptr, buffer, sizeof buffer), S_OK);
    EXPECT_STREQ(buffer,
                 "Copies the required Drovemark installation files to an Amiga computer.");
    EXPECT_EQ(menu.GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(wide), 32),
              S_OK);
    EXPECT_STREQ(wide, L"");
    EXPECT_EQ(menu.GetCommandString(0, GCS_VALIDATEA, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(menu.GetCommandString(0, GCS_VALIDATEW, nullptr, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(menu.GetCommandString(2, GCS_VERBA, nullptr, buffer, sizeof buffer), E_INVALIDARG);

    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = "SETUP";
    EXPECT_EQ(menu.InvokeCommand(&info), S_OK);
    info.lpVerb = MAKEINTRESOURCEA(1);
    EXPECT_EQ(menu.InvokeCommand(&info), S_OK);
    info.lpVerb = MAKEINTRESOURCEA(2);
    EXPECT_EQ(menu.InvokeCommand(&info), E_INVALIDARG);
    info.lpVerb = "format";
    EXPECT_EQ(menu.InvokeCommand(&info), E_INVALIDARG);
    EXPECT_EQ(menu.InvokeCommand(nullptr), E_INVALIDARG);
    EXPECT_EQ(setups, 1);
    EXPECT_EQ(pages, 1);
}

}  // namespace
}  // namespace dm
