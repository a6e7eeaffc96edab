#include <gtest/gtest.h>

#include "protocol/Commands.h"
#include "tests/unit/fake_port.h"

namespace {

using fake::Bytes;
using fake::Frame;
using fake::Rig;

enum class Op { SetAddress, SetWorkMode, ReadStatus };

int RunOp(Op op, Rig& rig, int addrIndex, int mode, std::uint8_t& status)
{
    switch (op) {
    case Op::SetAddress: return SetAddress(rig.port, addrIndex, rig.clock);
    case Op::SetWorkMode: return SetWorkMode(rig.port, addrIndex, mode, rig.clock);
    case Op::ReadStatus: return ReadStatus(rig.port, addrIndex, status, rig.clock);
    }
    return 0;
}

TEST(Commands, RequestsAndOutcomes)
{
    const struct {
        const char* what;
        Op op;
        int addrIndex;
        int mode;
        Bytes request;
        Bytes reply;  // empty: the controller stays silent
        int expected;
    } cases[] = {
        {"new address 32", Op::SetAddress, 31, 0, Frame(0xF0, 0x04, 0x20), Frame(0x20, 0x20, 0x00), 1},
        {"new address refused", Op::SetAddress, 0, 0, Frame(0xF0, 0x04, 0x01), Frame(0x01, 0x01, 0x01), 0},
        {"new address, reply from the old one", Op::SetAddress, 4, 0, Frame(0xF0, 0x04, 0x05), Frame(0x01, 0x05, 0x00), 0},
        {"mode 0 on controller 1", Op::SetWorkMode, 0, 0, Frame(0x01, 0x05, 0x00), Frame(0x01, 0x00, 0x00), 1},
        {"mode 1 on controller 32", Op::SetWorkMode, 31, 1, Frame(0x20, 0x05, 0x01), Frame(0x20, 0x01, 0x00), 1},
        {"mode refused", Op::SetWorkMode, 2, 1, Frame(0x03, 0x05, 0x01), Frame(0x03, 0x01, 0x01), 0},
        {"status of controller 32", Op::ReadStatus, 31, 0, Frame(0x20, 0x03, 0x02), Frame(0x20, 0x02, 0x1C), 1},
        {"status with no controller", Op::ReadStatus, 0, 0, Frame(0x01, 0x03, 0x02), {}, 0},
    };
    for (const auto& c : cases) {
        Rig rig;
        const Bytes reply = c.reply;
        rig.device->onWrite = [reply](fake::Device& d, int, const Bytes&) {
            if (!reply.empty())
                d.Deliver(25, reply);
        };
        std::uint8_t status = 0xEE;
        EXPECT_EQ(RunOp(c.op, rig, c.addrIndex, c.mode, status), c.expected) << c.what;
        ASSERT_FALSE(rig.log->writes.empty()) << c.what;
        EXPECT_EQ(rig.log->writes[0].bytes, c.request) << c.what;
        if (c.op == Op::ReadStatus) {
            EXPECT_EQ(status, c.expected ? c.reply[2] : 0xEE) << c.what;
        }
    }
}

TEST(Commands, ClosedPortFailsEveryOperation)
{
    fake::Opener opener;
    CSerialPort port(opener.Get());
    fake::Clock clock;
    std::uint8_t status = 0;
    EXPECT_EQ(SetAddress(port, 0, clock), 0);
    EXPECT_EQ(SetWorkMode(port, 0, 0, clock), 0);
    EXPECT_EQ(ReadStatus(port, 0, status, clock), 0);
}

TEST(StatusText, EveryPositionAndMainsCombination)
{
    const char* const positions[8] = {
        "开关位置不能确定,", "开关在I状态位,", "开关在II状态位,", "开关位置错误,",
        "开关在0状态位,", "开关位置错误,", "开关位置错误,", "开关位置错误,",
    };
    for (unsigned status = 0; status < 256; ++status) {
        const std::string expected = std::string(positions[status & 0x07]) +
                                     ((status & 0x08) ? "没有市电I," : "有市电I,") +
                                     ((status & 0x10) ? "没有市电II." : "有市电II.");
        EXPECT_EQ(FormatStatusText(static_cast<std::uint8_t>(status)), expected) << status;
    }
}

TEST(StatusText, KnownSentences)
{
    EXPECT_EQ(FormatStatusText(0x01), "开关在I状态位,有市电I,有市电II.");
    EXPECT_EQ(FormatStatusText(0x1C), "开关在0状态位,没有市电I,没有市电II.");
    EXPECT_EQ(FormatStatusText(0x0B), "开关位置错误,没有市电I,有市电II.");
    EXPECT_EQ(FormatStatusText(0xE2), FormatStatusText(0x02));  // bits 5 to 7 play no part
}

}  // namespace
