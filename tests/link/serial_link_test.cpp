#include "link/link_lines.h"

#include "core/shared_settings_section.h"
#include "resources/string_ids.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#  include <termios.h>
#endif

namespace dm {
namespace {

#ifdef _WIN32
const char* const kMissingPort = "COM199";
#else
const char* const kMissingPort = "/nonexistent/drovemark-tty";
#endif

TEST(SerialLinkClosed, RefusesEverythingUntilOpen)
{
    SerialLink link(kMissingPort, 512);
    char bytes[4] = {};
    EXPECT_EQ(link.Read(bytes, 4, -10), E_FAIL);
    EXPECT_EQ(link.PendingErrorId(), UINT(IDS_ERR_READ_CLOSED));
    EXPECT_EQ(link.Write(bytes, 4, -10), E_FAIL);
    EXPECT_EQ(link.PendingErrorId(), UINT(IDS_ERR_WRITE_CLOSED));
    EXPECT_EQ(link.Discard(), S_OK);
    EXPECT_EQ(link.Close(), E_FAIL);
    EXPECT_EQ(link.SendBreak(10), E_FAIL);

    EXPECT_EQ(link.Open(), E_FAIL);
    EXPECT_EQ(link.PendingErrorId(), UINT(IDS_ERR_COM_OPEN));
    EXPECT_FALSE(link.IsOpen());
#ifndef _WIN32
    test::ScratchFolder scratch;
    test::WriteWholeFile(scratch.File("plain"), "not a terminal");
    SerialLink plain(scratch.File("plain"), 512);
    EXPECT_EQ(plain.Open(), E_FAIL);
    EXPECT_EQ(plain.PendingErrorId(), UINT(IDS_ERR_COM_OPEN));
#endif
}

using SerialLinkLine = test::LineTest<test::SerialLine>;

TEST_F(SerialLinkLine, PacesByTheStoredSpeedAndSendsBreaks)
{
    EXPECT_NEAR(line_.Link().MsPerByte(), 2000.0 / 1920.0, 1e-4);
    const auto start = test::Clock::now();
    EXPECT_EQ(line_.Link().SendBreak(50), S_OK);
    EXPECT_GE(test::MsSince(start), 45);
}

TEST_F(SerialLinkLine, WritesNobodyTakesAreShortThenNameThePort)
{
    test::ScratchLog log;
    const std::string flood(1 << 20, 'x');
    EXPECT_EQ(line_.Link().Write(flood.data(), uint32_t(flood.size()), -300), E_FAIL);
    EXPECT_EQ(line_.Link().PendingErrorId(), UINT(IDS_ERR_COM_WRITE));
    // Buffers on the way (the pty relay under Wine) may still take a little.
    for (int i = 0; i < 10 && line_.Link().PendingErrorId() != IDS_ERR_COM_NO_ANSWER; ++i)
        line_.Link().Write(flood.data(), 4096, -200);
    EXPECT_EQ(line_.Link().PendingErrorId(), UINT(IDS_ERR_COM_NO_ANSWER));
    ASSERT_NE(line_.Link().ErrorInsert(), nullptr);
    EXPECT_EQ(line_.Link().ErrorInsert(), line_.Link().Name());
    EXPECT_NE(log.Text().find("> [0 bytes]\r\nCOM WRITE ERROR: 4096 bytes should have been written "
                              "(code 0, timeout 200)"),
              std::string::npos);
    line_.Link().Close();
    while (!line_.Receive(1 << 16, 200).empty()) {
    }
}

#ifndef _WIN32
TEST_F(SerialLinkLine, OpensARawEightBitLineAtTheStoredSpeedOnly)
{
    ASSERT_TRUE(line_.Reopen(115200));
    termios line {};
    ASSERT_EQ(tcgetattr(line_.Peer().Fd(), &line), 0);  // the master reports the slave's settings
    EXPECT_EQ(cfgetospeed(&line), speed_t(B115200));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8 | CRTSCTS));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_NEAR(line_.Link().MsPerByte(), 2000.0 / 11520.0, 1e-4);

    line_.Link().Close();
    line_.Link().SetBaudRate(31250);
    EXPECT_EQ(line_.Link().Open(), E_FAIL);
    EXPECT_EQ(line_.Link().PendingErrorId(), UINT(IDS_ERR_COM_OPEN));
}

#endif

#ifdef _WIN32
DCB RightLine()
{
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    return dcb;
}

TEST(SerialLinkLineSettings, AnyWrongSettingResetsThemAllAndLimitsAreAlwaysSet)
{
    DCB right = RightLine();
    right.fNull = TRUE;
    right.fAbortOnError = TRUE;
    EXPECT_FALSE(SerialLink::NormalizeLineSettings(right, 4112));
    EXPECT_TRUE(right.fBinary && !right.fNull && right.fAbortOnError);
    EXPECT_EQ(right.XonLim, 257);
    EXPECT_EQ(right.XoffLim, 257);
    for (const auto& [packetSize, limit] :
         {std::pair<uint32_t, int> {0, 10}, {175, 10}, {176, 11}}) {
        DCB dcb = RightLine();
        SerialLink::NormalizeLineSettings(dcb, packetSize);
        EXPECT_EQ(dcb.XonLim, limit);
        EXPECT_EQ(dcb.XoffLim, limit);
    }

    const std::function<void(DCB&)> faults[] = {
        [](DCB& d) { d.ByteSize = 7; },
        [](DCB& d) { d.Parity = EVENPARITY; },
        [](DCB& d) { d.StopBits = TWOSTOPBITS; },
        [](DCB& d) { d.fParity = TRUE; },
        [](DCB& d) { d.fOutxCtsFlow = FALSE; },
        [](DCB& d) { d.fOutxDsrFlow = TRUE; },
        [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; },
        [](DCB& d) { d.fDsrSensitivity = TRUE; },
        [](DCB& d) { d.fOutX = TRUE; },
        [](DCB& d) { d.fInX = TRUE; },
        [](DCB& d) { d.fRtsControl = RTS_CONTROL_ENABLE; },
        [](DCB& d) {
            d = DCB {};
            d.DCBlength = sizeof d;
            d.BaudRate = 19200;
        },
    };
    right = RightLine();
    SerialLink::NormalizeLineSettings(right, 512);
    for (size_t i = 0; i < std::size(faults); ++i) {
        DCB dcb = RightLine();
        faults[i](dcb);
        EXPECT_TRUE(SerialLink::NormalizeLineSettings(dcb, 512)) << "fault " << i;
        EXPECT_EQ(std::memcmp(&dcb, &right, sizeof dcb), 0) << "fault " << i;
    }
}

TEST(SerialLinkRecord, DefaultIsNormalizedAndStoredRecordsAreCheckedFirst)
{
    SerialLink link("COM1", 512);
    if (!link.HasConfiguration())
        GTEST_SKIP() << "COM1 has no configuration on this machine";
    const std::vector<BYTE> good(link.ConfigurationData().begin(), link.ConfigurationData().end());
    ASSERT_GE(good.size(), sizeof(COMMCONFIG));
    COMMCONFIG head;
    std::memcpy(&head, good.data(), sizeof head);
    EXPECT_EQ(head.dwSize, good.size());
    EXPECT_EQ(link.BaudRate(), 19200u);
    EXPECT_FALSE(SerialLink::NormalizeLineSettings(head.dcb, 512));
    EXPECT_EQ(head.dcb.XonLim, 32);

    // Sizes past the data or below the header, a foreign DCB (a provider area outside is
    // refused on the way in from the registry).
    const std::function<void(COMMCONFIG&)> faults[] = {
        [](COMMCONFIG& c) { c.dwSize += 1; },
        [](COMMCONFIG& c) { c.dwSize = sizeof c - 1; },
        [](COMMCONFIG& c) { c.dcb.DCBlength = 12; },
    };
    for (const auto& fault : faults) {
        std::vector<BYTE> record = good;
        reinterpret_cast<COMMCONFIG*>(record.data())->dcb.BaudRate = 1200;
        fault(*reinterpret_cast<COMMCONFIG*>(record.data()));
        EXPECT_FALSE(link.SetConfigurationData(record.data(), record.size()));
    }
    EXPECT_FALSE(link.SetConfigurationData(good.data(), 10));
    EXPECT_FALSE(link.SetConfigurationData(nullptr, 100));
    EXPECT_EQ(link.BaudRate(), 19200u);

    std::vector<BYTE> stored = good;
    stored.resize(good.size() + 16);
    reinterpret_cast<COMMCONFIG*>(stored.data())->dcb.BaudRate = 57600;
    reinterpret_cast<COMMCONFIG*>(stored.data())->dcb.Parity = EVENPARITY;
    ASSERT_TRUE(link.SetConfigurationData(stored.data(), stored.size()));
    EXPECT_EQ(link.ConfigurationData().size(), good.size());
    EXPECT_EQ(link.BaudRate(), 57600u);
    EXPECT_TRUE(link.NormalizeConfiguration());
    EXPECT_FALSE(link.NormalizeConfiguration());
}
#endif

}  // namespace
}  // namespace dm
