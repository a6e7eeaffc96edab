// How the simulated controller answers a healthy line.
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <mutex>
#include <optional>

#include "protocol/CtrlFrame.h"
#include "sim_support.h"

namespace simtest {
namespace {

struct AnswerCase {
    const char* name;
    int address;  // controller state before the request
    int mode;
    std::uint8_t status;
    Bytes request;
    Bytes reply;
    int addressAfter;
    int modeAfter;
};

class SimAnswers : public testing::TestWithParam<AnswerCase> {};

TEST_P(SimAnswers, RepliesAndTakesTheState)
{
    const AnswerCase& c = GetParam();
    Rig rig;
    rig.sim.SetAddress(c.address);
    rig.sim.SetMode(c.mode);
    rig.sim.SetStatus(c.status);

    EXPECT_EQ(Hex(rig.Ask(c.request)), Hex(c.reply));
    EXPECT_EQ(rig.sim.Address(), c.addressAfter);
    EXPECT_EQ(rig.sim.Mode(), c.modeAfter);
    EXPECT_TRUE(rig.client.Quiet(50ms)) << "one request, one reply";
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimAnswers,
    testing::Values(
        AnswerCase{"read_status_default", 1, 0, 0x01, Wire(1, 3, 2), Wire(1, 2, 0x01), 1, 0},
        AnswerCase{"read_status_other_state", 17, 1, 0x1C, Wire(17, 3, 2), Wire(17, 2, 0x1C), 17, 1},
        AnswerCase{"set_address", 1, 0, 0x01, Wire(0xF0, 4, 7), Wire(7, 7, 0), 7, 0},
        AnswerCase{"set_address_highest", 5, 0, 0x01, Wire(0xF0, 4, 32), Wire(32, 32, 0), 32, 0},
        AnswerCase{"set_address_same", 3, 0, 0x01, Wire(0xF0, 4, 3), Wire(3, 3, 0), 3, 0},
        AnswerCase{"set_mode_mutual", 1, 0, 0x01, Wire(1, 5, 1), Wire(1, 1, 0), 1, 1},
        AnswerCase{"set_mode_switchover", 9, 1, 0x01, Wire(9, 5, 0), Wire(9, 0, 0), 9, 0},
        AnswerCase{"set_mode_bad_data", 1, 1, 0x01, Wire(1, 5, 2), Wire(1, 2, 1), 1, 1},
        AnswerCase{"set_mode_data_ff", 4, 0, 0x01, Wire(4, 5, 0xFF), Wire(4, 0xFF, 1), 4, 0}),
    CaseName<AnswerCase>);

struct SilenceCase {
    const char* name;
    Bytes bytes;
    bool isFrame;  // intact: it counts as a request even though nobody answers it
};

class SimNoAnswer : public testing::TestWithParam<SilenceCase> {};

TEST_P(SimNoAnswer, StaysQuietAndChangesNothing)
{
    const SilenceCase& c = GetParam();
    Rig rig;
    rig.sim.SetAddress(1);

    rig.client.Send(c.bytes);
    if (c.isFrame) {
        EXPECT_TRUE(rig.sim.WaitForRequests(1, 1000ms));
    }
    EXPECT_TRUE(rig.client.Quiet(150ms));
    EXPECT_EQ(rig.sim.RequestCount(), c.isFrame ? 1 : 0);
    EXPECT_EQ(rig.sim.Address(), 1);
    EXPECT_EQ(rig.sim.Mode(), 0);
    EXPECT_TRUE(rig.sim.SentFrames().empty());
}

Bytes WithBadCrc(Bytes frame)
{
    frame[3] ^= 0x01;
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimNoAnswer,
    testing::Values(SilenceCase{"read_status_other_address", Wire(2, 3, 2), true},
                    SilenceCase{"read_status_bad_data", Wire(1, 3, 3), true},
                    SilenceCase{"unknown_command", Wire(1, 7, 2), true},
                    SilenceCase{"command_zero", Wire(1, 0, 0), true},
                    SilenceCase{"set_address_zero", Wire(0xF0, 4, 0), true},
                    SilenceCase{"set_address_33", Wire(0xF0, 4, 33), true},
                    SilenceCase{"set_address_not_to_f0", Wire(1, 4, 5), true},
                    SilenceCase{"set_mode_other_address", Wire(2, 5, 1), true},
                    SilenceCase{"set_mode_to_f0", Wire(0xF0, 5, 1), true},
                    SilenceCase{"bad_crc", WithBadCrc(Wire(1, 3, 2)), false},
                    SilenceCase{"short_frame", Bytes{1, 3, 2, 0xA1}, false}),
    CaseName<SilenceCase>);

TEST(SimProtocol, NewAddressTakesOverFromTheOld)
{
    Rig rig;
    ASSERT_EQ(Hex(rig.Ask(Wire(0xF0, 4, 9))), Hex(Wire(9, 9, 0)));

    EXPECT_EQ(Hex(rig.Ask(Wire(9, 3, 2))), Hex(Wire(9, 2, 0x01)));
    rig.client.Send(Wire(1, 3, 2));
    EXPECT_TRUE(rig.client.Quiet(150ms));
}

TEST(SimProtocol, StateSetWhileRunningIsAnswered)
{
    Rig rig;
    rig.sim.SetStatus(0x0A);
    EXPECT_EQ(Hex(rig.Ask(Wire(1, 3, 2))), Hex(Wire(1, 2, 0x0A)));
    rig.sim.SetAddress(12);
    EXPECT_EQ(Hex(rig.Ask(Wire(12, 3, 2))), Hex(Wire(12, 2, 0x0A)));
}

struct ResyncCase {
    const char* name;
    std::vector<Bytes> writes;  // each handed to the terminal on its own, a little apart
    std::vector<Bytes> requests;
};

class SimResync : public testing::TestWithParam<ResyncCase> {};

TEST_P(SimResync, FindsEveryFrameInTheStream)
{
    const ResyncCase& c = GetParam();
    Rig rig;
    for (const auto& write : c.writes) {
        rig.client.Send(write);
        usleep(10'000);
    }

    Bytes expected;
    for (const auto& request : c.requests) {
        if (request[0] != rig.sim.Address())
            continue;  // a frame for another controller is heard but never answered
        const Bytes reply = Wire(request[0], 2, 0x01);
        expected.insert(expected.end(), reply.begin(), reply.end());
    }
    EXPECT_EQ(Hex(rig.client.Receive(expected.size(), 1000ms)), Hex(expected));
    EXPECT_TRUE(rig.client.Quiet(50ms));
    EXPECT_EQ(rig.sim.ReceivedFrames(), c.requests);
}

const Bytes kRead = Wire(1, 3, 2);

INSTANTIATE_TEST_SUITE_P(
    Sim, SimResync,
    testing::Values(
        ResyncCase{"garbage_before", {Join({{0x55, 0xAA, 0x13}, kRead})}, {kRead}},
        ResyncCase{"garbage_written_apart", {{0x00, 0x01, 0x03}, kRead}, {kRead}},
        ResyncCase{"frame_in_pieces", {{kRead[0], kRead[1]}, {kRead[2]}, {kRead[3], kRead[4]}}, {kRead}},
        ResyncCase{"corrupt_frame_then_good", {WithBadCrc(kRead), kRead}, {kRead}},
        ResyncCase{"frame_missing_its_first_byte", {Bytes(kRead.begin() + 1, kRead.end()), kRead}, {kRead}},
        ResyncCase{"two_frames_one_write", {Join({kRead, kRead})}, {kRead, kRead}},
        ResyncCase{"foreign_frame_between", {Join({kRead, Wire(3, 3, 2), kRead})}, {kRead, Wire(3, 3, 2), kRead}}),
    CaseName<ResyncCase>);

TEST(SimTrace, ShowsTheWireInHex)
{
    Rig rig;
    std::mutex mutex;
    std::vector<std::string> seen;
    rig.sim.SetTraceSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(line);
    });

    ASSERT_EQ(rig.Ask(Join({{0x55, 0xAA}, kRead})).size(), 5u);
    rig.client.Send(Wire(2, 3, 2));
    ASSERT_TRUE(rig.sim.WaitForRequests(2, 1000ms));
    ASSERT_TRUE(rig.client.Quiet(50ms));

    const std::vector<std::string> wire{"rx skipped 55 AA", "rx 01 03 02 A1 31", "tx " + Hex(Wire(1, 2, 1)),
                                        "rx " + Hex(Wire(2, 3, 2))};
    std::vector<std::string> traced;
    for (const auto& line : rig.sim.Trace()) {
        if (line.rfind("-- ", 0) != 0)
            traced.push_back(line);
    }
    EXPECT_EQ(traced, wire);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(seen, rig.sim.Trace());
    }
    // The foreign frame says why it got no answer.
    EXPECT_EQ(rig.sim.Trace().back().rfind("-- no answer", 0), 0u);
    EXPECT_EQ(rig.sim.SentFrames(), std::vector<pscsim::Frame>{Wire(1, 2, 1)});
}

TEST(SimLine, ClientCanCloseAndReopen)
{
    pscsim::Simulator sim;
    sim.SetTiming(pscsim::Timing::Fast());
    sim.Start();
    for (int session = 0; session < 3; ++session) {
        PtyClient client(sim.SlavePath());
        client.Send(kRead);
        EXPECT_EQ(Hex(client.Receive(5, 1000ms)), Hex(Wire(1, 2, 1))) << "session " << session;
    }
}

// The client locks its port with TIOCEXCL. That must end with its close, as it does on
// a real port, or its next open fails with EBUSY (for anyone without CAP_SYS_ADMIN).
TEST(SimLine, ExclusiveUseEndsWithTheClientsClose)
{
    pscsim::Simulator sim;
    sim.Start();
    {
        PtyClient client(sim.SlavePath());
        ASSERT_EQ(ioctl(client.Fd(), TIOCEXCL), 0);
    }

    std::optional<int> exclusive;
    for (int attempt = 0; attempt < 100 && exclusive != 0; ++attempt) {
        try {
            PtyClient again(sim.SlavePath());
            int flag = -1;
            ASSERT_EQ(ioctl(again.Fd(), TIOCGEXCL, &flag), 0);
            exclusive = flag;
        } catch (const std::system_error&) {
            // EBUSY until the simulator has seen the close
        }
        if (exclusive != 0)
            usleep(10'000);
    }
    EXPECT_EQ(exclusive, 0);
}

}  // namespace
}  // namespace simtest
