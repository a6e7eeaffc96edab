#include <gtest/gtest.h>

#include "platform/afx/file.h"
#include "serial/SerialPort.h"
#include "tests/unit/fake_port.h"

namespace {

using fake::Rig;

TEST(SerialPort, OpenAppliesTheLineSettingsAndTimeouts)
{
    Rig rig;
    ASSERT_EQ(rig.port.m_bOpen, 1);
    EXPECT_EQ(rig.opener.names, std::vector<std::string>{"COM1"});
    EXPECT_EQ(rig.log->mask, platform::kEventRxChar | platform::kEventTxEmpty);
    EXPECT_EQ(rig.log->rxQueue, 8192u);
    EXPECT_EQ(rig.log->txQueue, 8192u);
    EXPECT_EQ(rig.log->timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(rig.log->timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(rig.log->timeouts.WriteTotalTimeoutConstant, 0u);
    const platform::LineSettings& applied = rig.log->applied;
    EXPECT_EQ(applied.BaudRate, 2400u);
    EXPECT_EQ(applied.ByteSize, 8);
    EXPECT_EQ(applied.Parity, 0);
    EXPECT_EQ(applied.StopBits, 0);
    EXPECT_FALSE(applied.fOutxCtsFlow);
    EXPECT_EQ(applied.fDtrControl, 0);
}

TEST(SerialPort, DefaultsToCom1At4800UntilTold)
{
    fake::Opener opener;
    CSerialPort port(opener.Get());
    EXPECT_EQ(port.m_bOpen, 0);
    EXPECT_EQ(port.m_nPortNo, 1);
    EXPECT_EQ(port.m_dcb.BaudRate, 4800u);
}

TEST(SerialPort, PortNumberNamesTheDevice)
{
    const struct {
        std::uint8_t number;
        const char* name;
    } cases[] = {{1, "COM1"}, {8, "COM8"}, {9, "COM9"}, {0, "COM0"}};
    for (const auto& c : cases) {
        fake::Opener opener;
        CSerialPort port(opener.Get());
        port.m_nPortNo = c.number;
        EXPECT_EQ(port.Open(), 0);  // the opener has no device to give
        EXPECT_EQ(port.m_bOpen, 0);
        EXPECT_EQ(opener.names, std::vector<std::string>{c.name});
    }
}

TEST(SerialPort, SecondOpenFailsAndKeepsTheFirst)
{
    Rig rig;
    rig.port.m_dcb.BaudRate = 9600;
    EXPECT_EQ(rig.port.Open(), 0);
    EXPECT_EQ(rig.port.m_bOpen, 1);
    EXPECT_EQ(rig.opener.names.size(), 1u);
    EXPECT_EQ(rig.log->applied.BaudRate, 2400u);
    EXPECT_EQ(rig.log->closes, 0);
}

TEST(SerialPort, FailedOpenCanBeRetried)
{
    fake::Clock clock;
    auto log = std::make_shared<fake::DeviceLog>();
    fake::Opener opener;
    opener.openError = 5;
    CSerialPort port(opener.Get());
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_bOpen, 0);

    opener.openError = 0;
    opener.device = std::make_unique<fake::Device>(clock, log);
    EXPECT_EQ(port.Open(), 1);
    EXPECT_EQ(port.m_bOpen, 1);
}

TEST(SerialPort, RefusedConfigurationClosesThePort)
{
    for (const char* call : {"SetCommMask", "SetupComm", "SetCommTimeouts", "GetCommState", "SetCommState"}) {
        fake::Clock clock;
        auto log = std::make_shared<fake::DeviceLog>();
        fake::Opener opener;
        opener.device = std::make_unique<fake::Device>(clock, log);
        opener.device->failCall = call;
        opener.device->failError = 31;
        CSerialPort port(opener.Get());
        EXPECT_EQ(port.Open(), 0) << call;
        EXPECT_EQ(port.m_bOpen, 0) << call;
        EXPECT_EQ(log->closes, 1) << call;
        EXPECT_TRUE(log->destroyed) << call;
    }
}

TEST(SerialPort, ReadAndWriteOnAClosedPortDoNothing)
{
    fake::Opener opener;
    CSerialPort port(opener.Get());
    const std::uint8_t byte = 0x55;
    EXPECT_EQ(port.Write(&byte, 1), 0);
    EXPECT_EQ(port.Read(), 0);
    EXPECT_EQ(port.Close(), 1);
}

TEST(SerialPort, ReadDeliversWhatArrivedIntoTheScratchBuffer)
{
    Rig rig;
    EXPECT_EQ(rig.port.Read(), 0);
    rig.device->Deliver(0, {1, 2, 3});
    ASSERT_EQ(rig.port.Read(), 3);
    EXPECT_EQ(rig.port.m_rxBuf[0], 1);
    EXPECT_EQ(rig.port.m_rxBuf[2], 3);

    rig.device->Deliver(0, fake::Bytes(1500, 0xAA));
    EXPECT_EQ(rig.port.Read(), 1024);
    EXPECT_EQ(rig.port.Read(), 476);
}

TEST(SerialPort, OsFailuresRaiseFileExceptionsWithTheCode)
{
    {
        Rig rig;
        rig.device->writeError = 22;
        const std::uint8_t byte = 0;
        try {
            rig.port.Write(&byte, 1);
            FAIL() << "write should raise";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_lOsError, 22);
        }
        EXPECT_EQ(rig.port.m_bOpen, 1);
    }
    {
        Rig rig;
        rig.device->readError = 5;
        EXPECT_THROW(rig.port.Read(), CFileException);
        EXPECT_EQ(rig.port.m_bOpen, 1);
    }
}

TEST(SerialPort, ShortWriteRaisesDiskFull)
{
    Rig rig;
    rig.device->writeLimit = 3;
    const std::uint8_t frame[5] = {1, 2, 3, 4, 5};
    try {
        rig.port.Write(frame, 5);
        FAIL() << "short write should raise";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::diskFull);
    }
}

TEST(SerialPort, FailedCloseRaisesAfterThePortIsClosed)
{
    Rig rig;
    rig.device->closeError = 9;
    EXPECT_THROW(rig.port.Close(), CFileException);
    EXPECT_EQ(rig.port.m_bOpen, 0);
    EXPECT_TRUE(rig.log->destroyed);
    EXPECT_FALSE(rig.port.m_file.IsAttached());
    EXPECT_EQ(rig.port.Close(), 1);  // closed now: nothing more happens
}

TEST(SerialPort, DestructorReleasesAnOpenPort)
{
    auto log = std::make_shared<fake::DeviceLog>();
    {
        Rig rig;
        log = rig.log;
        ASSERT_FALSE(log->destroyed);
    }
    EXPECT_TRUE(log->destroyed);
}

TEST(FileException, SentenceNamesTheUnnamedFile)
{
    const CFileException error(CFileException::hardIO, 5);
    const std::string text = error.GetErrorMessage();
    EXPECT_NE(text.find("一未命名文件"), std::string::npos) << text;
    EXPECT_EQ(text.find("%1"), std::string::npos) << text;
    // Causes the framework does not know still get a sentence.
    EXPECT_NE(CFileException(999, 0).GetErrorMessage().find("一未命名文件"), std::string::npos);
}

}  // namespace
