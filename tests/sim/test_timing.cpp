// The pace of the line.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_support.h"

namespace simtest {
namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

struct RoundTrip {
    nanoseconds total;   // request handed over to last reply byte in
    nanoseconds spread;  // first reply byte to last
};

RoundTrip Measure(Rig& rig)
{
    const auto sent = rig.client.Send(Wire(1, 3, 2));
    const auto got = rig.client.ReceiveTimed(5, 2000ms);
    EXPECT_EQ(got.size(), 5u);
    if (got.size() != 5)
        return {};
    return {got.back().at - sent, got.back().at - got.front().at};
}

// Five bytes in, the turnaround, five bytes out, each byte 10 bits at 2400 baud.
TEST(SimTiming, DefaultIsA2400BaudLine)
{
    Rig rig(pscsim::Timing::Line2400());
    const auto byte = pscsim::kByteTime2400;

    const RoundTrip trip = Measure(rig);
    EXPECT_GE(trip.total, 10 * byte + pscsim::kDefaultTurnaround - 1ms);
    EXPECT_GE(trip.spread, 4 * byte - 1ms);
    EXPECT_LT(trip.total, 500ms);
}

// The benchmarks measure the client against this line, so the simulator must add next
// to nothing to it.
TEST(SimTiming, PacingIsPrecise)
{
    Rig rig(pscsim::Timing::Line2400());
    const nanoseconds ideal = 10 * pscsim::kByteTime2400 + pscsim::kDefaultTurnaround;

    std::vector<nanoseconds> totals;
    for (int i = 0; i < 9; ++i)
        totals.push_back(Measure(rig).total);
    std::sort(totals.begin(), totals.end());
    const auto median = totals[totals.size() / 2];
    EXPECT_GE(median, ideal - 500us) << duration_cast<microseconds>(median).count() << " us";
    EXPECT_LE(median, ideal + 3ms) << duration_cast<microseconds>(median).count() << " us";
}

struct TimingCase {
    const char* name;
    pscsim::Timing timing;
};

class SimTimingSettable : public testing::TestWithParam<TimingCase> {};

TEST_P(SimTimingSettable, RoundTripFollowsTheSettings)
{
    const pscsim::Timing& t = GetParam().timing;
    Rig rig(t);
    EXPECT_EQ(rig.sim.LineTiming().byteTime, t.byteTime);

    const RoundTrip trip = Measure(rig);
    EXPECT_GE(trip.total, 10 * t.byteTime + t.turnaround - 1ms);
    EXPECT_GE(trip.spread, 4 * t.byteTime - 1ms);
    EXPECT_LT(trip.total, 10 * t.byteTime + t.turnaround + 200ms);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimTimingSettable,
    testing::Values(TimingCase{"slow_bytes", {nanoseconds(10ms), nanoseconds(0)}},
                    TimingCase{"long_turnaround", {nanoseconds(0), nanoseconds(80ms)}},
                    TimingCase{"both", {nanoseconds(2ms), nanoseconds(30ms)}}),
    CaseName<TimingCase>);

TEST(SimTiming, FastAnswersWithinLessThanTheRealLineTakes)
{
    Rig rig(pscsim::Timing::Fast());
    EXPECT_LT(Measure(rig).total, 10 * pscsim::kByteTime2400);
}

TEST(SimTiming, NegativeTimingIsRejected)
{
    pscsim::Simulator sim;
    EXPECT_THROW(sim.SetTiming({nanoseconds(-1), nanoseconds(0)}), std::invalid_argument);
    EXPECT_THROW(sim.SetTiming({nanoseconds(0), nanoseconds(-1)}), std::invalid_argument);
}

}  // namespace
}  // namespace simtest
