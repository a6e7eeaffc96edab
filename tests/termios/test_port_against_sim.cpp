// The real termios backend against the simulated controller on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <unistd.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/afx/file.h"
#include "protocol/Commands.h"
#include "protocol/CtrlFrame.h"
#include "serial/SerialPort.h"
#include "sim/simulator.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// True once another process holds the advisory lock on `path`.
bool WaitUntilLocked(const std::string& path)
{
    for (int i = 0; i < 200; ++i) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
        close(fd);
        if (held)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class PortAgainstSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("PSCSETUP_COM1", sim.SlavePath().c_str(), 1);
        sim.Start();
        port.m_dcb.BaudRate = 2400;
        port.m_nPortNo = 1;
    }
    void TearDown() override { unsetenv("PSCSETUP_COM1"); }

    pscsim::Simulator sim;
    CSerialPort port;
};

TEST_F(PortAgainstSim, TheThreeOperationsChangeTheController)
{
    ASSERT_EQ(port.Open(), 1);

    ASSERT_EQ(SetWorkMode(port, 0, 1), 1);
    EXPECT_EQ(sim.Mode(), 1);

    ASSERT_EQ(SetAddress(port, 4), 1);
    EXPECT_EQ(sim.Address(), 5);

    sim.SetStatus(0x1C);
    std::uint8_t status = 0;
    ASSERT_EQ(ReadStatus(port, 4, status), 1);
    EXPECT_EQ(status, 0x1C);
    EXPECT_EQ(sim.RequestCount(), 3);
}

TEST_F(PortAgainstSim, EveryStatusByteCrossesTheLineUnaltered)
{
    sim.SetTiming(pscsim::Timing::Fast());
    ASSERT_EQ(port.Open(), 1);
    // Flow control, line ends, interrupt and end-of-file characters among them.
    for (unsigned value = 0; value < 256; ++value) {
        sim.SetStatus(static_cast<std::uint8_t>(value));
        std::uint8_t status = 0;
        ASSERT_EQ(ReadStatus(port, 0, status), 1) << value;
        EXPECT_EQ(status, value);
    }
}

TEST_F(PortAgainstSim, SilenceFailsAfterFiveWindows)
{
    pscsim::Faults faults;
    faults.silent = true;
    sim.SetFaults(faults);
    ASSERT_EQ(port.Open(), 1);

    std::uint8_t status = 0;
    const auto start = Clock::now();
    EXPECT_EQ(ReadStatus(port, 0, status), 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();

    EXPECT_GE(elapsed, 2490);  // five windows of 500 ticks; ticks are whole milliseconds
    EXPECT_LE(elapsed, 2700);
    ASSERT_TRUE(sim.WaitForRequests(5, std::chrono::milliseconds(500)));
    const auto received = sim.ReceivedFrames();
    ASSERT_EQ(received.size(), 5u);
    for (const auto& frame : received)
        EXPECT_EQ(frame, (pscsim::Frame{0x01, 0x03, 0x02, 0xA1, 0x31}));
}

TEST_F(PortAgainstSim, RefusalFails)
{
    pscsim::Faults faults;
    faults.refuse = true;
    sim.SetFaults(faults);
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(SetWorkMode(port, 0, 1), 0);
    EXPECT_EQ(SetAddress(port, 9), 0);
    EXPECT_EQ(sim.Mode(), 0);
    EXPECT_EQ(sim.Address(), 1);
}

TEST_F(PortAgainstSim, LateReplyToAnEarlierCommandIsNotTakenForTheNext)
{
    pscsim::Faults faults;
    faults.lateBy = std::chrono::milliseconds(600);
    sim.SetFaults(faults);
    ASSERT_EQ(port.Open(), 1);
    // The first request's reply arrives in the second window and counts; the second
    // request's reply arrives after the exchange has ended.
    ASSERT_EQ(SetWorkMode(port, 0, 1), 1);

    faults = pscsim::Faults{};
    faults.silent = true;
    sim.SetFaults(faults);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(SetWorkMode(port, 0, 1), 0);
}

TEST_F(PortAgainstSim, HangUpMidExchangeLeavesWithTheFileException)
{
    pscsim::Faults faults;
    faults.hangupAfter = 0;
    sim.SetFaults(faults);
    ASSERT_EQ(port.Open(), 1);
    std::uint8_t status = 0;
    const auto start = Clock::now();
    EXPECT_THROW(ReadStatus(port, 0, status), CFileException);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(port.m_bOpen, 1);  // the exchange leaves the port as it was
}

TEST_F(PortAgainstSim, PortHeldByAnotherProcessDoesNotOpen)
{
    // flock(1) holds the same advisory lock the port takes.
    pid_t holder = 0;
    const std::string path = sim.SlavePath();
    char* const argv[] = {const_cast<char*>("flock"), const_cast<char*>("-n"), const_cast<char*>(path.c_str()),
                          const_cast<char*>("sleep"), const_cast<char*>("5"), nullptr};
    // In a group of its own, so that the command it runs (which inherits the lock) ends too.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    const int spawned = posix_spawnp(&holder, "flock", nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    ASSERT_EQ(spawned, 0);
    ASSERT_TRUE(WaitUntilLocked(path));

    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_bOpen, 0);

    kill(-holder, SIGTERM);
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_EQ(port.Open(), 1);  // free again
}

TEST_F(PortAgainstSim, OneProgramAtATime)
{
    ASSERT_EQ(port.Open(), 1);
    CSerialPort second;
    second.m_nPortNo = 1;
    EXPECT_EQ(second.Open(), 0);
    port.Close();
    EXPECT_EQ(second.Open(), 1);
}

TEST(PortOpen, NamesWithoutASerialDeviceFail)
{
    const struct {
        const char* what;
        const char* path;
    } cases[] = {
        {"missing device", "/tmp/pscsetup-no-such-port"},
        {"not a terminal", "/dev/null"},
    };
    for (const auto& c : cases) {
        setenv("PSCSETUP_COM3", c.path, 1);
        CSerialPort port;
        port.m_nPortNo = 3;
        EXPECT_EQ(port.Open(), 0) << c.what;
        EXPECT_EQ(port.m_bOpen, 0) << c.what;
        unsetenv("PSCSETUP_COM3");
    }
}

}  // namespace
