// The three device operations and the status sentence. Each takes the dialog's address
// index (0 to 31 for "01" to "32"); the controller address is index + 1.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tick.h"
#include "serial/SerialPort.h"

// Gives the connected controller the address index + 1; it answers from that address.
int SetAddress(CSerialPort& port, int nAddrIndex,
               platform::TickSource& tick = platform::SystemTick());

int SetWorkMode(CSerialPort& port, int nAddrIndex, int nWorkMode,
                platform::TickSource& tick = platform::SystemTick());

// On success `status` receives the controller's status byte.
int ReadStatus(CSerialPort& port, int nAddrIndex, std::uint8_t& status,
               platform::TickSource& tick = platform::SystemTick());

// The operator's sentence for a status byte, UTF-8.
std::string FormatStatusText(std::uint8_t status);
