#include "protocol/Commands.h"

#include "protocol/CtrlFrame.h"
#include "protocol/Transact.h"

namespace {

CtrlFrame MakeRequest(std::uint8_t address, std::uint8_t command, std::uint8_t data)
{
    return CtrlFrame{{address, command, data, 0, 0}};
}

std::uint8_t AddressFromIndex(int nAddrIndex)
{
    return static_cast<std::uint8_t>(nAddrIndex + 1);
}

}  // namespace

int SetAddress(CSerialPort& port, int nAddrIndex, platform::TickSource& tick)
{
    CtrlFrame frame = MakeRequest(ADDR_SET_ADDRESS, CMD_SET_ADDRESS, AddressFromIndex(nAddrIndex));
    return Transact(port, nAddrIndex + 1, frame, tick) && frame.data[2] == 0;
}

int SetWorkMode(CSerialPort& port, int nAddrIndex, int nWorkMode, platform::TickSource& tick)
{
    CtrlFrame frame = MakeRequest(AddressFromIndex(nAddrIndex), CMD_SET_MODE,
                                  static_cast<std::uint8_t>(nWorkMode));
    return Transact(port, nAddrIndex + 1, frame, tick) && frame.data[2] == 0;
}

int ReadStatus(CSerialPort& port, int nAddrIndex, std::uint8_t& status, platform::TickSource& tick)
{
    CtrlFrame frame = MakeRequest(AddressFromIndex(nAddrIndex), CMD_READ_STATUS, READ_STATUS_DATA);
    if (!Transact(port, nAddrIndex + 1, frame, tick))
        return 0;
    status = frame.data[2];
    return 1;
}

std::string FormatStatusText(std::uint8_t status)
{
    std::string text;
    switch (status & STATUS_POSITION_MASK) {
    case STATUS_POSITION_UNKNOWN: text = "开关位置不能确定,"; break;
    case STATUS_POSITION_I: text = "开关在I状态位,"; break;
    case STATUS_POSITION_II: text = "开关在II状态位,"; break;
    case STATUS_POSITION_OFF: text = "开关在0状态位,"; break;
    default: text = "开关位置错误,"; break;
    }
    text += (status & STATUS_NO_MAINS_I) ? "没有市电I," : "有市电I,";
    text += (status & STATUS_NO_MAINS_II) ? "没有市电II." : "有市电II.";
    return text;
}
