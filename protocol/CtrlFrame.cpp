#include "protocol/CtrlFrame.h"

std::uint16_t Crc16Update(std::uint8_t byte, std::uint16_t crc)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
        if (crc & 0x0001u)
            crc = static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u);
        else
            crc = static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

std::uint16_t Crc16(const std::uint8_t* bytes, std::size_t count)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i)
        crc = Crc16Update(bytes[i], crc);
    return crc;
}

void BuildRequest(const CtrlFrame& request, std::uint8_t wire[FRAME_LEN])
{
    wire[0] = request.data[0];
    wire[1] = request.data[1];
    wire[2] = request.data[2];
    const std::uint16_t crc = Crc16(wire, 3);
    wire[3] = static_cast<std::uint8_t>(crc & 0xFF);
    wire[4] = static_cast<std::uint8_t>(crc >> 8);
}

bool IsFrameIntact(const std::uint8_t frame[FRAME_LEN])
{
    return Crc16(frame, FRAME_LEN) == 0;
}
