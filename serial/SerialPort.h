// The channel to one COM port: which port, with which line settings, and the raw
// byte traffic on it. It knows nothing of the controller protocol.
#pragma once

#include <cstdint>

#include "platform/afx/file.h"
#include "platform/serial_device.h"

constexpr unsigned SERIAL_RX_BUF_SIZE = 1024;
constexpr std::uint32_t SERIAL_QUEUE_SIZE = 8192;

class CSerialPort : public CObject {
public:
    // The opener is the platform's by default; tests hand in their own device.
    explicit CSerialPort(platform::SerialOpener opener = platform::OpenSerialDevice);
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;
    ~CSerialPort() override;

    int Open();
    int Close();
    int Write(const void* data, unsigned count);
    int Read();

    std::uint8_t m_rxBuf[SERIAL_RX_BUF_SIZE];
    CFile m_file;
    int m_bOpen = 0;
    std::uint8_t m_nPortNo = 1;
    platform::LineSettings m_dcb;
    platform::CommTimeouts m_timeouts;

private:
    platform::SerialOpener m_openDevice;
};
