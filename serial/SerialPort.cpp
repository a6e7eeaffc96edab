#include "serial/SerialPort.h"

#include <utility>

CSerialPort::CSerialPort(platform::SerialOpener opener) : m_openDevice(std::move(opener))
{
    m_dcb.BaudRate = 4800;
    m_dcb.ByteSize = 8;
    m_dcb.Parity = 0;
    m_dcb.StopBits = 0;
    m_dcb.fOutxCtsFlow = false;
    m_dcb.fDtrControl = 0;

    // Reads return at once with whatever has arrived; writes have no time-out.
    m_timeouts.ReadIntervalTimeout = 0xFFFFFFFF;
    m_timeouts.ReadTotalTimeoutMultiplier = 0;
    m_timeouts.ReadTotalTimeoutConstant = 0;
    m_timeouts.WriteTotalTimeoutMultiplier = 0;
    m_timeouts.WriteTotalTimeoutConstant = 0;
}

CSerialPort::~CSerialPort()
{
    // A close error has nowhere to go from a destructor; the handle is released regardless.
    if (m_bOpen) {
        m_bOpen = 0;
        m_file.m_hFile.reset();
    }
}

int CSerialPort::Open()
{
    if (m_bOpen)
        return 0;
    m_bOpen = 1;

    char name[] = "COM ";
    name[3] = static_cast<char>('0' + m_nPortNo);

    platform::OpenResult opened = m_openDevice(name);
    m_file.Attach(std::move(opened.device));
    if (!m_file.IsAttached()) {
        m_bOpen = 0;
        return 0;
    }

    platform::SerialDevice& device = *m_file.m_hFile;
    platform::LineSettings current;
    const bool configured =
        device.SetCommMask(platform::kEventRxChar | platform::kEventTxEmpty) == 0 &&
        device.SetupComm(SERIAL_QUEUE_SIZE, SERIAL_QUEUE_SIZE) == 0 &&
        device.SetCommTimeouts(m_timeouts) == 0 &&
        device.GetCommState(current) == 0;
    if (configured) {
        current.BaudRate = m_dcb.BaudRate;
        current.ByteSize = m_dcb.ByteSize;
        current.Parity = m_dcb.Parity;
        current.StopBits = m_dcb.StopBits;
        current.fOutxCtsFlow = m_dcb.fOutxCtsFlow;
        current.fDtrControl = m_dcb.fDtrControl;
        if (device.SetCommState(current) == 0)
            return 1;
    }

    // The driver refused the configuration: the port is not usable. A failure to close
    // what never became usable is not worth an operator's message.
    try {
        Close();
    } catch (const CFileException&) {
    }
    return 0;
}

int CSerialPort::Close()
{
    if (m_bOpen) {
        m_bOpen = 0;
        m_file.Close();
    }
    return 1;
}

int CSerialPort::Write(const void* data, unsigned count)
{
    if (!m_bOpen)
        return 0;
    m_file.Write(data, count);
    return 1;
}

int CSerialPort::Read()
{
    if (!m_bOpen)
        return 0;
    return static_cast<int>(m_file.Read(m_rxBuf, SERIAL_RX_BUF_SIZE));
}
