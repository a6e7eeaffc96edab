// Starting, stopping and the simulator's own interface.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "sim_support.h"

namespace simtest {
namespace {

TEST(SimLifecycle, SlaveIsAPseudoTerminal)
{
    pscsim::Simulator sim;
    EXPECT_EQ(sim.SlavePath().rfind("/dev/pts/", 0), 0u) << sim.SlavePath();
    PtyClient client(sim.SlavePath());
    EXPECT_TRUE(isatty(client.Fd()));
}

TEST(SimLifecycle, StopIsPromptEvenInTheMiddleOfAWait)
{
    Rig rig;
    pscsim::Faults faults;
    faults.lateBy = 10s;
    rig.sim.SetFaults(faults);
    rig.client.Send(Wire(1, 3, 2));
    ASSERT_TRUE(rig.sim.WaitForRequests(1, 1000ms));

    const auto before = Clock::now();
    rig.sim.Stop();
    EXPECT_LT(Clock::now() - before, 100ms);
    EXPECT_FALSE(rig.sim.Running());
}

TEST(SimLifecycle, DestructorIsPrompt)
{
    auto sim = std::make_unique<pscsim::Simulator>();
    sim->Start();
    std::this_thread::sleep_for(20ms);
    const auto before = Clock::now();
    sim.reset();
    EXPECT_LT(Clock::now() - before, 100ms);
}

TEST(SimLifecycle, RequestSentWhileStoppedIsAnsweredAfterRestart)
{
    Rig rig;
    ASSERT_EQ(rig.Ask(Wire(1, 3, 2)).size(), 5u);
    rig.sim.Stop();
    rig.sim.Stop();  // twice is harmless

    rig.client.Send(Wire(1, 5, 1));
    EXPECT_TRUE(rig.client.Quiet(100ms));
    rig.sim.Start();
    rig.sim.Start();  // already running
    EXPECT_EQ(Hex(rig.client.Receive(5, 1000ms)), Hex(Wire(1, 1, 0)));
    EXPECT_EQ(rig.sim.Mode(), 1);
}

TEST(SimLifecycle, WaitForRequestsTimesOut)
{
    Rig rig;
    const auto before = Clock::now();
    EXPECT_FALSE(rig.sim.WaitForRequests(1, 100ms));
    EXPECT_GE(Clock::now() - before, 95ms);

    std::thread later([&] {
        std::this_thread::sleep_for(50ms);
        rig.client.Send(Wire(1, 3, 2));
    });
    EXPECT_TRUE(rig.sim.WaitForRequests(1, 2000ms));
    later.join();
}

TEST(SimLifecycle, DefaultState)
{
    pscsim::Simulator sim;
    EXPECT_EQ(sim.Address(), 1);
    EXPECT_EQ(sim.Mode(), 0);
    EXPECT_EQ(sim.Status(), 0x01);
    EXPECT_FALSE(sim.Running());
    EXPECT_FALSE(sim.HungUp());
    EXPECT_EQ(sim.LineTiming().byteTime, pscsim::kByteTime2400);
}

TEST(SimLifecycle, StateSettersCheckTheirRanges)
{
    pscsim::Simulator sim;
    for (const int bad : {0, 33, -1, 0xF0})
        EXPECT_THROW(sim.SetAddress(bad), std::invalid_argument) << bad;
    for (const int bad : {-1, 2})
        EXPECT_THROW(sim.SetMode(bad), std::invalid_argument) << bad;
    EXPECT_EQ(sim.Address(), 1);
    EXPECT_EQ(sim.Mode(), 0);
}

}  // namespace
}  // namespace simtest
