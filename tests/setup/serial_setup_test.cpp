// Setup over a COM port whose far end is the emulated Amiga playing a bare one
// (tools/with-com-pair, tools/with-setup-recorder): what crosses the line raw, what arrives
// through the protocol afterwards, and the questions on the way, answered from a helper thread.
// The menu commands that start it are checked on their own.
#include "core/registry.h"
#include "core/settings_registry.h"
#include "link/serial_link.h"
#include "protocol/remote_session.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "setup/serial_setup.h"
#include "setup/setup_context_menu.h"
#include "support/dialog_driver.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

namespace fs = std::filesystem;

namespace dm {
namespace {

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

    // Runs Setup with `buttons` pressed in turn; what it asked, each of which must hold the
    // fragment given for it (an empty fragment matches anything).
    static void RunExpecting(std::vector<int> buttons, const std::vector<std::string>& fragments)
    {
        test::ButtonScript script(std::move(buttons));
        RunSerialSetup();
        const auto asked = script.Finish();
        EXPECT_EQ(script.unexpected, 0);
        ASSERT_EQ(asked.size(), fragments.size());
        for (size_t i = 0; i < asked.size(); ++i)
            EXPECT_NE(asked[i].text.find(fragments[i]), std::string::npos) << asked[i].text;
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
    RunExpecting({IDOK, IDYES, IDOK, IDOK, IDOK, IDOK},
                 {"", "gray Workbench screen", "Input Buffer Size", "Type  SER:  to  RAM:Setup",
                  "RX  RAM:Setup", "Congratulations!"});
    EXPECT_TRUE(Raw() == expectedRaw_) << Raw().size() << " raw bytes";
    for (const char* name : {"Drovemark", "Drovemark.info", "ReadMe.txt", "ReadMe.txt.info"})
        EXPECT_TRUE(test::ReadWholeFile(far_ + "\\ram\\" + name) == files_[name]) << name;
    EXPECT_FALSE(fs::exists(far_ + "\\ram\\Setup.rexx"));
    EXPECT_NE(PeerLog().find("PEER SETUP FINISHED"), std::string::npos);
    // Each file ended with a break; the line ran at the speed of a fresh Amiga, and the
    // connection keeps its own.
    const std::string log = PcLog();
    EXPECT_EQ(Count(log, "COM BREAK 800 ms"), 2u) << log;
    EXPECT_NE(log.find("OPENED AT 19200 BAUD"), std::string::npos);
    EXPECT_EQ(log.find("OPENED AT 57600 BAUD"), std::string::npos);
    EXPECT_EQ(StoredBaudRate(), 57600u);
    Disconnect();
}

TEST_F(SerialSetupTest, OlderSystemsGetTheProgramWithoutABreakAndAFileLeftOutIsNoSuccess)
{
    ExpectRaw(files_["Drovemark"] + std::string(4096, '\n'));
    // The RAM disk already holds a ReadMe, which the user keeps: Setup has not finished.
    test::WriteWholeFile(far_ + "\\ram\\ReadMe.txt", "an older one");
    Connect(true);
    RunExpecting({IDOK, IDNO, IDOK, IDOK, IDOK, IDOK, IDC_CONFIRM_NO},
                 {"", "", "Read Bits: 8", "", "Ctrl+C", "RAM:Setup", "ReadMe.txt"});
    EXPECT_TRUE(Raw() == expectedRaw_) << Raw().size() << " raw bytes";
    for (const char* name : {"Drovemark", "Drovemark.info", "ReadMe.txt.info"})
        EXPECT_TRUE(test::ReadWholeFile(far_ + "\\ram\\" + name) == files_[name]) << name;
    EXPECT_EQ(test::ReadWholeFile(far_ + "\\ram\\ReadMe.txt"), "an older one");
    EXPECT_EQ(PeerLog().find("PEER SETUP FINISHED"), std::string::npos);
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
        RunExpecting(buttons, std::vector<std::string>(cancelAt + 1));
        EXPECT_EQ(StoredBaudRate(), 57600u);
    }
    Disconnect();

    Connect(false);
    RunExpecting({IDOK}, {"currently set to TCP/IP"});
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
    RunExpecting({IDOK}, {"conflict"});
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
