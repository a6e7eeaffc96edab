#include <gtest/gtest.h>

#include "platform/afx/file.h"
#include "protocol/Transact.h"
#include "tests/unit/fake_port.h"

namespace {

using fake::Bytes;
using fake::Frame;
using fake::Rig;

const CtrlFrame kReadStatus1{{0x01, CMD_READ_STATUS, READ_STATUS_DATA, 0, 0}};
const Bytes kRequest = Frame(0x01, CMD_READ_STATUS, READ_STATUS_DATA);
const Bytes kReply = Frame(0x01, READ_STATUS_DATA, 0x1C);

// The device answers only the given attempts (0 = first), with the given pieces.
void AnswerOn(fake::Device& device, std::vector<int> attempts, std::vector<Bytes> pieces, std::uint32_t gapMs = 3)
{
    device.onWrite = [attempts, pieces, gapMs](fake::Device& d, int index, const Bytes&) {
        if (std::find(attempts.begin(), attempts.end(), index) == attempts.end())
            return;
        std::uint32_t delay = 25;  // the request on the line and the controller's turnaround
        for (const Bytes& piece : pieces) {
            d.Deliver(delay, piece);
            delay += gapMs;
        }
    };
}

TEST(Transact, ClosedPortSendsNothing)
{
    fake::Opener opener;
    CSerialPort port(opener.Get());
    CtrlFrame frame = kReadStatus1;
    fake::Clock clock;
    EXPECT_EQ(Transact(port, 1, frame, clock), 0);
    EXPECT_TRUE(opener.names.empty());
}

TEST(Transact, SilenceMeansFiveIdenticalTransmissionsHalfASecondApart)
{
    Rig rig;
    CtrlFrame frame = kReadStatus1;
    frame.data[3] = 0x12;  // callers' CRC bytes do not matter
    const std::uint32_t start = rig.clock.now;
    EXPECT_EQ(Transact(rig.port, 1, frame, rig.clock), 0);

    ASSERT_EQ(rig.log->writes.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(rig.log->writes[i].bytes, kRequest) << i;
        if (i > 0) {
            const std::uint32_t gap = rig.log->writes[i].at - rig.log->writes[i - 1].at;
            EXPECT_GE(gap, 500u);
            EXPECT_LE(gap, 505u);
        }
    }
    const std::uint32_t elapsed = rig.clock.now - start;
    EXPECT_GE(elapsed, 2500u);
    EXPECT_LE(elapsed, 2520u);
    EXPECT_EQ(frame.data[2], READ_STATUS_DATA);  // the record is untouched on failure
    EXPECT_EQ(frame.data[3], 0x12);
    EXPECT_EQ(rig.port.m_bOpen, 1);
}

TEST(Transact, AcceptsReplyInAnyPieces)
{
    const struct {
        const char* what;
        std::vector<Bytes> pieces;
    } cases[] = {
        {"whole", {kReply}},
        {"split after byte 1", {Bytes(kReply.begin(), kReply.begin() + 1), Bytes(kReply.begin() + 1, kReply.end())}},
        {"split after byte 2", {Bytes(kReply.begin(), kReply.begin() + 2), Bytes(kReply.begin() + 2, kReply.end())}},
        {"split after byte 3", {Bytes(kReply.begin(), kReply.begin() + 3), Bytes(kReply.begin() + 3, kReply.end())}},
        {"split after byte 4", {Bytes(kReply.begin(), kReply.begin() + 4), Bytes(kReply.begin() + 4, kReply.end())}},
        {"byte by byte", {{kReply[0]}, {kReply[1]}, {kReply[2]}, {kReply[3]}, {kReply[4]}}},
        {"garbage first, same read", {fake::Concat({{0x00, 0x01, 0xFF, 0x01}, kReply})}},
        {"garbage in an earlier read", {{0x55, 0x01, 0x7E, 0xFF, 0x03, 0x02}, kReply}},
        {"command-like bytes before the reply", {{0x01, 0x03, 0x02, 0x01}, kReply}},
        {"earlier of two intact frames", {fake::Concat({kReply, Frame(0x01, READ_STATUS_DATA, 0x00)})}},
        {"wrong address, then ours", {fake::Concat({Frame(0x02, READ_STATUS_DATA, 0x00), kReply})}},
    };
    for (const auto& c : cases) {
        Rig rig;
        AnswerOn(*rig.device, {0}, c.pieces);
        CtrlFrame frame = kReadStatus1;
        ASSERT_EQ(Transact(rig.port, 1, frame, rig.clock), 1) << c.what;
        EXPECT_EQ(Bytes(frame.data, frame.data + FRAME_LEN), kReply) << c.what;
        EXPECT_EQ(rig.log->writes.size(), 1u) << c.what;
    }
}

TEST(Transact, IgnoresFramesThatDoNotMatch)
{
    const struct {
        const char* what;
        Bytes reply;
    } cases[] = {
        {"another address", Frame(0x02, READ_STATUS_DATA, 0x01)},
        {"command code where the echo belongs", Frame(0x01, CMD_READ_STATUS, 0x01)},
        {"bad CRC", fake::BadFrame(0x01, READ_STATUS_DATA, 0x01)},
        {"four bytes only", Bytes(kReply.begin(), kReply.begin() + 4)},
    };
    for (const auto& c : cases) {
        Rig rig;
        AnswerOn(*rig.device, {0, 1, 2, 3, 4}, {c.reply});
        CtrlFrame frame = kReadStatus1;
        EXPECT_EQ(Transact(rig.port, 1, frame, rig.clock), 0) << c.what;
        EXPECT_EQ(rig.log->writes.size(), 5u) << c.what;
        EXPECT_EQ(Bytes(frame.data, frame.data + 3), Bytes(kRequest.begin(), kRequest.begin() + 3)) << c.what;
    }
}

TEST(Transact, BadCrcCandidateBlocksItsWindowAndTheRetrySucceeds)
{
    Rig rig;
    rig.device->onWrite = [](fake::Device& d, int index, const Bytes&) {
        if (index == 0) {
            d.Deliver(25, fake::BadFrame(0x01, READ_STATUS_DATA, 0x1C));
            d.Deliver(60, kReply);  // good, but behind the bad candidate
        } else {
            d.Deliver(25, kReply);
        }
    };
    CtrlFrame frame = kReadStatus1;
    ASSERT_EQ(Transact(rig.port, 1, frame, rig.clock), 1);
    ASSERT_EQ(rig.log->writes.size(), 2u);
    EXPECT_GE(rig.log->writes[1].at - rig.log->writes[0].at, 500u);
    EXPECT_EQ(Bytes(frame.data, frame.data + FRAME_LEN), kReply);
}

TEST(Transact, StaleReplyWaitingBeforeTheRequestIsPurged)
{
    Rig rig;
    rig.device->Deliver(0, Frame(0x01, READ_STATUS_DATA, 0x00));  // a late reply to an earlier command
    rig.clock.now += 10;
    CtrlFrame frame = kReadStatus1;
    EXPECT_EQ(Transact(rig.port, 1, frame, rig.clock), 0);
    EXPECT_EQ(rig.log->purges, 1);
    EXPECT_EQ(rig.log->writes.size(), 5u);
}

TEST(Transact, PurgesOnlyBeforeTheFirstAttempt)
{
    Rig rig;
    // The reply to the first request comes late, during the second window, and counts.
    rig.device->onWrite = [](fake::Device& d, int index, const Bytes&) {
        if (index == 0)
            d.Deliver(700, kReply);
    };
    CtrlFrame frame = kReadStatus1;
    EXPECT_EQ(Transact(rig.port, 1, frame, rig.clock), 1);
    EXPECT_EQ(rig.log->purges, 1);
    EXPECT_EQ(rig.log->writes.size(), 2u);
}

TEST(Transact, OverflowDropsTheOldestBytesAndTheWindowGoesOn)
{
    Rig rig;
    rig.device->onWrite = [](fake::Device& d, int index, const Bytes&) {
        if (index != 0)
            return;
        // A blocking bad candidate, then more than the buffer holds, then the reply.
        d.Deliver(25, fake::BadFrame(0x01, READ_STATUS_DATA, 0x1C));
        for (int i = 0; i < 3; ++i)
            d.Deliver(30 + static_cast<std::uint32_t>(i), Bytes(1024, 0x33));
        d.Deliver(40, kReply);
    };
    CtrlFrame frame = kReadStatus1;
    ASSERT_EQ(Transact(rig.port, 1, frame, rig.clock), 1);
    EXPECT_EQ(rig.log->writes.size(), 1u);
    EXPECT_EQ(Bytes(frame.data, frame.data + FRAME_LEN), kReply);
}

TEST(Transact, TickWrapInsideAWindowKeepsItsLength)
{
    Rig rig(0xFFFFFFFFu - 700);
    CtrlFrame frame = kReadStatus1;
    EXPECT_EQ(Transact(rig.port, 1, frame, rig.clock), 0);
    ASSERT_EQ(rig.log->writes.size(), 5u);
    for (std::size_t i = 1; i < 5; ++i) {
        const std::uint32_t gap = rig.log->writes[i].at - rig.log->writes[i - 1].at;
        EXPECT_GE(gap, 500u) << i;
        EXPECT_LE(gap, 505u) << i;
    }
}

TEST(Transact, WaitsForTheTransmitterButNeverWithoutBound)
{
    const struct {
        fake::TxEmptyBehaviour behaviour;
        std::uint32_t maxWaitMs;
    } cases[] = {
        {fake::TxEmptyBehaviour::Immediate, 5},
        {fake::TxEmptyBehaviour::RxCharFirst, 8},
        {fake::TxEmptyBehaviour::Fails, 5},
        {fake::TxEmptyBehaviour::Never, TRANSACT_TXEMPTY_BOUND_MS + 5},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.device->txEmpty = c.behaviour;
        // The reply is already there when the window opens.
        rig.device->onWrite = [](fake::Device& d, int, const Bytes&) { d.Deliver(0, kReply); };
        CtrlFrame frame = kReadStatus1;
        const std::uint32_t start = rig.clock.now;
        ASSERT_EQ(Transact(rig.port, 1, frame, rig.clock), 1) << static_cast<int>(c.behaviour);
        ASSERT_EQ(rig.log->readTimes.size(), 1u);
        EXPECT_LE(rig.log->readTimes[0] - start, c.maxWaitMs) << static_cast<int>(c.behaviour);
    }
}

TEST(Transact, ReceivedCharactersDoNotEndTheTransmitWait)
{
    Rig rig;
    rig.device->txEmpty = fake::TxEmptyBehaviour::RxCharFirst;
    AnswerOn(*rig.device, {0}, {kReply});
    CtrlFrame frame = kReadStatus1;
    EXPECT_EQ(Transact(rig.port, 1, frame, rig.clock), 1);
}

TEST(Transact, OsFailureLeavesTheExchangeWithThePortOpen)
{
    Rig rig;
    rig.device->readError = 5;
    CtrlFrame frame = kReadStatus1;
    EXPECT_THROW(Transact(rig.port, 1, frame, rig.clock), CFileException);
    EXPECT_EQ(rig.port.m_bOpen, 1);
    EXPECT_EQ(rig.log->writes.size(), 1u);
}

TEST(Transact, ExpectedAddressIsTheCallersNotRequestByteZero)
{
    Rig rig;
    AnswerOn(*rig.device, {0}, {Frame(0x07, 0x07, 0x00)});
    CtrlFrame frame{{ADDR_SET_ADDRESS, CMD_SET_ADDRESS, 0x07, 0, 0}};
    ASSERT_EQ(Transact(rig.port, 7, frame, rig.clock), 1);
    EXPECT_EQ(rig.log->writes[0].bytes, Frame(ADDR_SET_ADDRESS, CMD_SET_ADDRESS, 0x07));
}

}  // namespace
