// One request/reply exchange with a controller: up to five attempts, each a
// transmission followed by a 500 ms receive window.
#pragma once

#include <cstdint>

#include "platform/tick.h"
#include "protocol/CtrlFrame.h"
#include "serial/SerialPort.h"

constexpr int TRANSACT_ATTEMPTS = 5;
constexpr std::uint32_t TRANSACT_WINDOW_MS = 500;
constexpr unsigned TRANSACT_ACCUM_SIZE = 2048;
// Five bytes leave a 2400 baud transmitter in about 21 ms; a driver that never reports
// the transmitter empty must not stall the exchange.
constexpr std::uint32_t TRANSACT_TXEMPTY_BOUND_MS = 1000;

// Sends bytes 0 to 2 of `frame` with a fresh CRC and waits for an intact reply from
// `nAddr` whose byte 1 echoes request byte 2. Returns 1 and overwrites `frame` with the
// reply, or 0 when the port is closed or five attempts found none. OS failures on the
// port leave as CFileException.
int Transact(CSerialPort& port, int nAddr, CtrlFrame& frame,
             platform::TickSource& tick = platform::SystemTick());
