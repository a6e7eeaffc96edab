// The five-byte request/reply record of the controller protocol and its checksum.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t FRAME_LEN = 5;

// Command codes (request byte 1).
constexpr std::uint8_t CMD_READ_STATUS = 0x03;
constexpr std::uint8_t CMD_SET_ADDRESS = 0x04;
constexpr std::uint8_t CMD_SET_MODE = 0x05;

// A set-address request goes to this address, whatever address the controller has now.
constexpr std::uint8_t ADDR_SET_ADDRESS = 0xF0;
// Data byte of a read-status request, echoed in byte 1 of its reply.
constexpr std::uint8_t READ_STATUS_DATA = 0x02;

constexpr int ADDR_MIN = 1;
constexpr int ADDR_MAX = 32;

// Status byte of a read-status reply.
constexpr std::uint8_t STATUS_POSITION_MASK = 0x07;
constexpr std::uint8_t STATUS_POSITION_UNKNOWN = 0;
constexpr std::uint8_t STATUS_POSITION_I = 1;
constexpr std::uint8_t STATUS_POSITION_II = 2;
constexpr std::uint8_t STATUS_POSITION_OFF = 4;
constexpr std::uint8_t STATUS_NO_MAINS_I = 0x08;
constexpr std::uint8_t STATUS_NO_MAINS_II = 0x10;

// Working modes (data byte of a set-mode request).
constexpr std::uint8_t WORK_MODE_SWITCHOVER = 0;
constexpr std::uint8_t WORK_MODE_MUTUAL = 1;

// Bytes 0 to 2 carry address, command and data in a request, and address, echo and
// result in a reply; bytes 3 and 4 are the CRC-16, low byte first.
struct CtrlFrame {
    std::uint8_t data[FRAME_LEN];
};

// One step of CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF).
std::uint16_t Crc16Update(std::uint8_t byte, std::uint16_t crc);
std::uint16_t Crc16(const std::uint8_t* bytes, std::size_t count);

// Fills `wire` with bytes 0 to 2 of `request` and a freshly computed CRC; bytes 3 and 4
// of the request are ignored.
void BuildRequest(const CtrlFrame& request, std::uint8_t wire[FRAME_LEN]);

// A frame is intact when the CRC over all five bytes, its own two included, is zero.
bool IsFrameIntact(const std::uint8_t frame[FRAME_LEN]);
