#include <gtest/gtest.h>

#include <cstring>

#include "protocol/CtrlFrame.h"
#include "tests/unit/fake_port.h"

namespace {

struct Example {
    const char* what;
    CtrlFrame request;
    fake::Bytes wire;
};

const Example kExamples[] = {
    {"read status of controller 1", {{0x01, CMD_READ_STATUS, READ_STATUS_DATA, 0, 0}}, {0x01, 0x03, 0x02, 0xA1, 0x31}},
    {"controller 1 to mode 0", {{0x01, CMD_SET_MODE, 0, 0, 0}}, {0x01, 0x05, 0x00, 0x23, 0x50}},
    {"controller 1 to mode 1", {{0x01, CMD_SET_MODE, 1, 0, 0}}, {0x01, 0x05, 0x01, 0xE2, 0x90}},
    {"connected controller to address 1", {{ADDR_SET_ADDRESS, CMD_SET_ADDRESS, 1, 0, 0}}, {0xF0, 0x04, 0x01, 0xB2, 0xF3}},
};

TEST(CtrlFrame, BuildsTheKnownFrames)
{
    for (const Example& example : kExamples) {
        std::uint8_t wire[FRAME_LEN];
        BuildRequest(example.request, wire);
        EXPECT_EQ(fake::Bytes(wire, wire + FRAME_LEN), example.wire) << example.what;
        EXPECT_TRUE(IsFrameIntact(wire)) << example.what;
    }
}

TEST(CtrlFrame, CrcMatchesTheModbusCheckValue)
{
    const char* digits = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>(digits), std::strlen(digits)), 0x4B37);
}

TEST(CtrlFrame, AnySingleBitFlipIsDetected)
{
    for (const Example& example : kExamples) {
        for (std::size_t byte = 0; byte < FRAME_LEN; ++byte) {
            for (int bit = 0; bit < 8; ++bit) {
                fake::Bytes wire = example.wire;
                wire[byte] = static_cast<std::uint8_t>(wire[byte] ^ (1u << bit));
                EXPECT_FALSE(IsFrameIntact(wire.data())) << example.what << " byte " << byte << " bit " << bit;
            }
        }
    }
}

TEST(CtrlFrame, CallersCrcBytesDoNotReachTheWire)
{
    const CtrlFrame clean{{0x07, CMD_READ_STATUS, READ_STATUS_DATA, 0, 0}};
    const CtrlFrame dirty{{0x07, CMD_READ_STATUS, READ_STATUS_DATA, 0xDE, 0xAD}};
    std::uint8_t a[FRAME_LEN];
    std::uint8_t b[FRAME_LEN];
    BuildRequest(clean, a);
    BuildRequest(dirty, b);
    EXPECT_EQ(0, std::memcmp(a, b, FRAME_LEN));
}

}  // namespace
