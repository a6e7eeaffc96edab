// Misbehaviour on request.
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "sim_support.h"

namespace simtest {
namespace {

using pscsim::Faults;

Faults Silent()
{
    Faults f;
    f.silent = true;
    return f;
}
Faults Refuse()
{
    Faults f;
    f.refuse = true;
    return f;
}
Faults WrongAddress()
{
    Faults f;
    f.wrongAddress = true;
    return f;
}
Faults CommandEcho()
{
    Faults f;
    f.commandEcho = true;
    return f;
}
Faults Garbage(Bytes bytes)
{
    Faults f;
    f.garbage = std::move(bytes);
    return f;
}
Faults Everything()
{
    Faults f = Garbage({0x42});
    f.wrongAddress = true;
    f.commandEcho = true;
    f.refuse = true;
    return f;
}

struct FaultCase {
    const char* name;
    Faults faults;
    int address;
    Bytes request;
    Bytes wire;  // everything the client receives; empty: nothing at all
    int addressAfter;
    int modeAfter;
};

class SimFaultReplies : public testing::TestWithParam<FaultCase> {};

TEST_P(SimFaultReplies, ShapeTheReply)
{
    const FaultCase& c = GetParam();
    Rig rig;
    rig.sim.SetAddress(c.address);
    rig.sim.SetFaults(c.faults);

    rig.client.Send(c.request);
    ASSERT_TRUE(rig.sim.WaitForRequests(1, 1000ms));
    EXPECT_EQ(Hex(rig.client.Receive(c.wire.size() + 1, 200ms)), Hex(c.wire));
    EXPECT_EQ(rig.sim.Address(), c.addressAfter);
    EXPECT_EQ(rig.sim.Mode(), c.modeAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimFaultReplies,
    testing::Values(
        FaultCase{"silent_read_status", Silent(), 1, Wire(1, 3, 2), {}, 1, 0},
        FaultCase{"silent_set_address_not_taken", Silent(), 1, Wire(0xF0, 4, 6), {}, 1, 0},
        FaultCase{"silent_set_mode_not_taken", Silent(), 1, Wire(1, 5, 1), {}, 1, 0},
        FaultCase{"refuse_set_mode", Refuse(), 1, Wire(1, 5, 1), Wire(1, 1, 1), 1, 0},
        FaultCase{"refuse_set_address_from_new", Refuse(), 1, Wire(0xF0, 4, 6), Wire(6, 6, 1), 1, 0},
        FaultCase{"refuse_leaves_read_status", Refuse(), 1, Wire(1, 3, 2), Wire(1, 2, 1), 1, 0},
        FaultCase{"refuse_ignores_bad_address", Refuse(), 1, Wire(0xF0, 4, 0), {}, 1, 0},
        FaultCase{"wrong_address", WrongAddress(), 1, Wire(1, 3, 2), Wire(2, 2, 1), 1, 0},
        FaultCase{"wrong_address_wraps", WrongAddress(), 32, Wire(32, 3, 2), Wire(1, 2, 1), 32, 0},
        FaultCase{"wrong_address_still_acts", WrongAddress(), 1, Wire(0xF0, 4, 6), Wire(7, 6, 0), 6, 0},
        FaultCase{"command_echo_read_status", CommandEcho(), 1, Wire(1, 3, 2), Wire(1, 3, 1), 1, 0},
        FaultCase{"command_echo_set_mode", CommandEcho(), 1, Wire(1, 5, 1), Wire(1, 5, 0), 1, 1},
        FaultCase{"garbage_default", Garbage(pscsim::kDefaultGarbage), 1, Wire(1, 3, 2),
                  Join({pscsim::kDefaultGarbage, Wire(1, 2, 1)}), 1, 0},
        FaultCase{"garbage_own_bytes", Garbage({0x01, 0x02}), 1, Wire(1, 3, 2), Join({{0x01, 0x02}, Wire(1, 2, 1)}), 1,
                  0},
        FaultCase{"garbage_not_without_reply", Garbage({0x01}), 1, Wire(2, 3, 2), {}, 1, 0},
        FaultCase{"combined", Everything(), 1, Wire(1, 5, 1), Join({{0x42}, Wire(2, 5, 1)}), 1, 0}),
    CaseName<FaultCase>);

TEST(SimFaults, BadCrcOnTheFirstRepliesOnly)
{
    Rig rig;
    Faults faults;
    faults.badCrcReplies = 2;
    rig.sim.SetFaults(faults);

    for (int i = 0; i < 3; ++i) {
        const Bytes reply = rig.Ask(Wire(1, 3, 2));
        ASSERT_EQ(reply.size(), 5u);
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), (Bytes{1, 2, 1})) << "reply " << i;
        EXPECT_EQ(Intact(reply), i >= 2) << "reply " << i;
    }
    EXPECT_EQ(rig.sim.CurrentFaults().badCrcReplies, 0);
}

// A request with no answer leaves the count where it is.
TEST(SimFaults, BadCrcCountsRepliesNotRequests)
{
    Rig rig;
    Faults faults;
    faults.badCrcReplies = 1;
    rig.sim.SetFaults(faults);

    rig.client.Send(Wire(5, 3, 2));
    ASSERT_TRUE(rig.sim.WaitForRequests(1, 1000ms));
    EXPECT_FALSE(Intact(rig.Ask(Wire(1, 3, 2))));
    EXPECT_TRUE(Intact(rig.Ask(Wire(1, 3, 2))));
}

struct SplitCase {
    const char* name;
    int pieceBytes;
    std::vector<std::size_t> firstOfPiece;  // reply bytes that start a piece
};

class SimSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(SimSplit, ReplyComesInPiecesWithGaps)
{
    const SplitCase& c = GetParam();
    constexpr auto kGap = 60ms;
    Rig rig;
    Faults faults;
    faults.splitGap = kGap;
    faults.splitPieceBytes = c.pieceBytes;
    rig.sim.SetFaults(faults);

    rig.client.Send(Wire(1, 3, 2));
    const auto got = rig.client.ReceiveTimed(5, 2000ms);
    ASSERT_EQ(got.size(), 5u);
    Bytes bytes;
    for (const auto& arrival : got)
        bytes.push_back(arrival.value);
    EXPECT_EQ(Hex(bytes), Hex(Wire(1, 2, 1)));

    for (std::size_t i = 1; i < got.size(); ++i) {
        const auto apart = got[i].at - got[i - 1].at;
        const bool newPiece =
            std::find(c.firstOfPiece.begin(), c.firstOfPiece.end(), i) != c.firstOfPiece.end();
        if (newPiece) {
            EXPECT_GE(apart, kGap - 5ms) << "byte " << i;
        } else {
            EXPECT_LT(apart, kGap / 2) << "byte " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sim, SimSplit,
                         testing::Values(SplitCase{"pairs", 2, {2, 4}}, SplitCase{"single_bytes", 1, {1, 2, 3, 4}},
                                         SplitCase{"three_and_two", 3, {3}},
                                         SplitCase{"piece_as_big_as_the_reply", 5, {}}),
                         CaseName<SplitCase>);

TEST(SimFaults, LateReplyComesAfterTheDelay)
{
    Rig rig;
    Faults faults;
    faults.lateBy = 300ms;
    rig.sim.SetFaults(faults);

    const auto sent = rig.client.Send(Wire(1, 3, 2));
    EXPECT_TRUE(rig.client.Quiet(250ms));
    const auto got = rig.client.ReceiveTimed(5, 2000ms);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_GE(got.front().at - sent, 295ms);
    EXPECT_TRUE(Intact(Bytes{got[0].value, got[1].value, got[2].value, got[3].value, got[4].value}));
}

// What the client sees once the controller has hung up: poll reports it, and reads
// give end of file or EIO, writes EIO.
void ExpectHungUp(const PtyClient& client)
{
    pollfd pfd{client.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 1000), 1);
    EXPECT_TRUE(pfd.revents & POLLHUP);
    std::uint8_t byte = 0;
    const ssize_t n = read(client.Fd(), &byte, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << "read gave " << n << ", errno " << errno;
    EXPECT_EQ(write(client.Fd(), &byte, 1), -1);
    EXPECT_EQ(errno, EIO);
}

struct HangupCase {
    const char* name;
    int after;
};

class SimHangup : public testing::TestWithParam<HangupCase> {};

TEST_P(SimHangup, ServesNThenHangsUpOnTheNext)
{
    const int after = GetParam().after;
    Rig rig;
    Faults faults;
    faults.hangupAfter = after;
    rig.sim.SetFaults(faults);

    for (int i = 0; i < after; ++i)
        ASSERT_EQ(Hex(rig.Ask(Wire(1, 3, 2))), Hex(Wire(1, 2, 1))) << "request " << i;
    EXPECT_FALSE(rig.sim.HungUp());

    rig.client.Send(Wire(1, 3, 2));
    ExpectHungUp(rig.client);
    EXPECT_TRUE(rig.sim.HungUp());
    EXPECT_FALSE(rig.sim.Running());
    EXPECT_EQ(rig.sim.RequestCount(), after + 1);
    EXPECT_EQ(rig.sim.SentFrames().size(), static_cast<std::size_t>(after));
    EXPECT_EQ(rig.sim.Trace().back(), "-- hang-up");
}

INSTANTIATE_TEST_SUITE_P(Sim, SimHangup,
                         testing::Values(HangupCase{"at_first_request", 0}, HangupCase{"after_one", 1},
                                         HangupCase{"after_three", 3}),
                         CaseName<HangupCase>);

TEST(SimFaults, HangUpOnCommand)
{
    Rig rig;
    ASSERT_EQ(rig.Ask(Wire(1, 3, 2)).size(), 5u);
    rig.sim.HangUp();
    ExpectHungUp(rig.client);
    EXPECT_THROW(rig.sim.Start(), std::logic_error);
}

TEST(SimFaults, HangUpBeforeStart)
{
    pscsim::Simulator sim;
    PtyClient client(sim.SlavePath());
    sim.HangUp();
    ExpectHungUp(client);
}

TEST(SimFaults, ChangeWhileRunning)
{
    Rig rig;
    ASSERT_EQ(rig.Ask(Wire(1, 3, 2)).size(), 5u);

    rig.sim.SetFaults(Silent());
    rig.client.Send(Wire(1, 3, 2));
    ASSERT_TRUE(rig.sim.WaitForRequests(2, 1000ms));
    EXPECT_TRUE(rig.client.Quiet(100ms));

    rig.sim.SetFaults(Faults{});
    EXPECT_EQ(Hex(rig.Ask(Wire(1, 3, 2))), Hex(Wire(1, 2, 1)));
}

class SimFaultValidation : public testing::TestWithParam<Faults> {};

TEST_P(SimFaultValidation, RejectsNegativeParameters)
{
    pscsim::Simulator sim;
    EXPECT_THROW(sim.SetFaults(GetParam()), std::invalid_argument);
}

Faults With(void (*change)(Faults&))
{
    Faults f;
    change(f);
    return f;
}

INSTANTIATE_TEST_SUITE_P(Sim, SimFaultValidation,
                         testing::Values(With([](Faults& f) { f.badCrcReplies = -1; }),
                                         With([](Faults& f) { f.splitGap = -1ms; }),
                                         With([](Faults& f) { f.splitPieceBytes = 0; }),
                                         With([](Faults& f) { f.lateBy = -1ms; }),
                                         With([](Faults& f) { f.hangupAfter = -1; })));

}  // namespace
}  // namespace simtest
