// Serial primitives on a Windows COM port.
//
// The handle is opened for overlapped I/O only so that the transmit-empty wait can be
// bounded: reads and writes are still completed before they return. When the event wait
// fails (Wine's does on a pseudo-terminal), the transmitter counts as empty once the
// driver's transmit queue is; FlushFileBuffers is no substitute, as Wine's discards the
// queue instead of draining it.
#include "platform/afx/file.h"
#include "platform/serial_device.h"

#include "platform/win32/win32_api.h"
#include "platform/win32/win32_handle.h"

#include <algorithm>
#include <limits>

namespace platform {

namespace {

using win32::UniqueHandle;

// After a pending wait has been told to stop, the driver gets this long to finish it
// before the request is cancelled outright.
constexpr DWORD kEndWaitMs = 500;
// How often the fallback looks at the transmit queue.
constexpr DWORD kQueuePollMs = 1;

DWORD ClampToDword(std::size_t count)
{
    return static_cast<DWORD>(std::min<std::size_t>(count, std::numeric_limits<DWORD>::max()));
}

class Win32SerialDevice final : public SerialDevice {
public:
    Win32SerialDevice(UniqueHandle file, UniqueHandle ioEvent, UniqueHandle waitEvent)
        : m_file(std::move(file)), m_ioEvent(std::move(ioEvent)), m_waitEvent(std::move(waitEvent))
    {
    }

    OsError SetCommMask(std::uint32_t events) override
    {
        if (!::SetCommMask(m_file.Get(), events))
            return static_cast<OsError>(::GetLastError());
        m_eventMask = events;
        return 0;
    }

    OsError SetupComm(std::uint32_t rxQueue, std::uint32_t txQueue) override
    {
        return ::SetupComm(m_file.Get(), rxQueue, txQueue) ? 0 : static_cast<OsError>(::GetLastError());
    }

    OsError SetCommTimeouts(const CommTimeouts& timeouts) override
    {
        COMMTIMEOUTS native{};
        native.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
        native.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
        native.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
        native.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
        native.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
        return ::SetCommTimeouts(m_file.Get(), &native) ? 0 : static_cast<OsError>(::GetLastError());
    }

    // The driver's whole state is kept, so that SetCommState changes only what the
    // port channel controls and what binary transfer needs.
    OsError GetCommState(LineSettings& settings) override
    {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        if (!::GetCommState(m_file.Get(), &dcb))
            return static_cast<OsError>(::GetLastError());
        m_driverState = dcb;
        m_haveDriverState = true;
        settings.BaudRate = dcb.BaudRate;
        settings.ByteSize = dcb.ByteSize;
        settings.Parity = dcb.Parity;
        settings.StopBits = dcb.StopBits;
        settings.fOutxCtsFlow = dcb.fOutxCtsFlow != 0;
        settings.fDtrControl = static_cast<std::uint8_t>(dcb.fDtrControl);
        return 0;
    }

    OsError SetCommState(const LineSettings& settings) override
    {
        if (!m_haveDriverState) {
            LineSettings current;
            if (const OsError error = GetCommState(current))
                return error;
        }
        DCB dcb = m_driverState;
        dcb.DCBlength = sizeof(dcb);
        dcb.BaudRate = settings.BaudRate;
        dcb.ByteSize = settings.ByteSize;
        dcb.Parity = settings.Parity;
        dcb.StopBits = settings.StopBits;
        dcb.fOutxCtsFlow = settings.fOutxCtsFlow ? 1 : 0;
        dcb.fDtrControl = settings.fDtrControl & 0x3u;
        // The five bytes of a frame must arrive as sent: no parity check, no XON/XOFF,
        // no DSR gating, no dropped NULs, no replaced characters, no stop on error.
        dcb.fBinary = 1;
        dcb.fParity = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDsrSensitivity = 0;
        dcb.fNull = 0;
        dcb.fErrorChar = 0;
        dcb.fAbortOnError = 0;
        if (!::SetCommState(m_file.Get(), &dcb))
            return static_cast<OsError>(::GetLastError());
        m_driverState = dcb;
        return 0;
    }

    // Takes only what the driver's receive queue holds, so the read completes at once
    // whatever the driver makes of the port's time-outs on an overlapped handle (Wine
    // queues such a read until data comes).
    OsError Read(void* buffer, std::size_t capacity, std::size_t& received) override
    {
        received = 0;
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(m_file.Get(), &errors, &status))
            return static_cast<OsError>(::GetLastError());
        const DWORD wanted = std::min<DWORD>(ClampToDword(capacity), status.cbInQue);
        if (wanted == 0)
            return 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_ioEvent.Get();
        DWORD count = 0;
        if (!::ReadFile(m_file.Get(), buffer, wanted, &count, &overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING)
                return static_cast<OsError>(error);
            if (!::GetOverlappedResult(m_file.Get(), &overlapped, &count, TRUE))
                return static_cast<OsError>(::GetLastError());
        }
        received = count;
        return 0;
    }

    OsError Write(const void* data, std::size_t count, std::size_t& written) override
    {
        written = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_ioEvent.Get();
        DWORD done = 0;
        if (!::WriteFile(m_file.Get(), data, ClampToDword(count), &done, &overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING)
                return static_cast<OsError>(error);
            // Writes have no time-out: they end when the bytes are in the driver's queue.
            if (!::GetOverlappedResult(m_file.Get(), &overlapped, &done, TRUE))
                return static_cast<OsError>(::GetLastError());
        }
        written = done;
        return 0;
    }

    WaitResult WaitCommEvent(std::uint32_t& events, std::uint32_t timeoutMs) override
    {
        events = 0;
        const DWORD start = ::GetTickCount();
        DWORD mask = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_waitEvent.Get();
        ::ResetEvent(m_waitEvent.Get());
        if (::WaitCommEvent(m_file.Get(), &mask, &overlapped)) {
            events = mask;
            return WaitResult::Event;
        }
        if (::GetLastError() != ERROR_IO_PENDING)
            return WaitForEmptyTransmitQueue(events, start, timeoutMs);

        const DWORD waited = ::WaitForSingleObject(m_waitEvent.Get(), timeoutMs);
        if (waited == WAIT_OBJECT_0) {
            DWORD unused = 0;
            if (::GetOverlappedResult(m_file.Get(), &overlapped, &unused, FALSE)) {
                events = mask;
                return WaitResult::Event;
            }
            return WaitForEmptyTransmitQueue(events, start, timeoutMs);
        }
        // `mask` and `overlapped` belong to the pending request until it has ended.
        EndPendingWait(overlapped);
        return waited == WAIT_TIMEOUT ? WaitResult::TimedOut : WaitResult::Failed;
    }

    OsError PurgeReceive() override
    {
        return ::PurgeComm(m_file.Get(), PURGE_RXCLEAR) ? 0 : static_cast<OsError>(::GetLastError());
    }

    OsError Close() override { return static_cast<OsError>(m_file.Close()); }

private:
    // Changing the mask makes a pending wait return (Wine's only for an empty mask); a
    // driver that ignores that gets the request cancelled.
    void EndPendingWait(OVERLAPPED& overlapped)
    {
        ::SetCommMask(m_file.Get(), 0);
        ::SetCommMask(m_file.Get(), m_eventMask);
        if (::WaitForSingleObject(m_waitEvent.Get(), kEndWaitMs) != WAIT_OBJECT_0)
            ::CancelIo(m_file.Get());
        DWORD unused = 0;
        ::GetOverlappedResult(m_file.Get(), &overlapped, &unused, TRUE);
    }

    // For drivers whose event wait fails (Wine's on a pseudo-terminal, for one): the
    // transmitter counts as empty once the driver's transmit queue is.
    WaitResult WaitForEmptyTransmitQueue(std::uint32_t& events, DWORD start, std::uint32_t timeoutMs)
    {
        if (!(m_eventMask & EV_TXEMPTY))
            return WaitResult::Failed;
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!::ClearCommError(m_file.Get(), &errors, &status))
                return WaitResult::Failed;
            if (status.cbOutQue == 0) {
                events = EV_TXEMPTY;
                return WaitResult::Event;
            }
            if (::GetTickCount() - start >= timeoutMs)
                return WaitResult::TimedOut;
            ::Sleep(kQueuePollMs);
        }
    }

    UniqueHandle m_file;
    UniqueHandle m_ioEvent;
    UniqueHandle m_waitEvent;
    DWORD m_eventMask = 0;
    DCB m_driverState{};
    bool m_haveDriverState = false;
};

bool IsComName(const std::string& name)
{
    return name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '8';
}

UniqueHandle CreateManualResetEvent()
{
    return UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

}  // namespace

OpenResult OpenSerialDevice(const std::string& comName)
{
    if (!IsComName(comName))
        return {nullptr, ERROR_FILE_NOT_FOUND};

    const std::string path = "\\\\.\\" + comName;
    UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
    if (!file.Valid())
        return {nullptr, static_cast<OsError>(::GetLastError())};

    UniqueHandle ioEvent = CreateManualResetEvent();
    if (!ioEvent.Valid())
        return {nullptr, static_cast<OsError>(::GetLastError())};
    UniqueHandle waitEvent = CreateManualResetEvent();
    if (!waitEvent.Valid())
        return {nullptr, static_cast<OsError>(::GetLastError())};

    return {std::make_unique<Win32SerialDevice>(std::move(file), std::move(ioEvent), std::move(waitEvent)), 0};
}

int FileCauseFromOsError(OsError error)
{
    switch (error) {
    case 0: return CFileException::none;
    case ERROR_FILE_NOT_FOUND: return CFileException::fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return CFileException::badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return CFileException::tooManyOpenFiles;
    case ERROR_ACCESS_DENIED: return CFileException::accessDenied;
    case ERROR_INVALID_HANDLE: return CFileException::invalidFile;
    case ERROR_CURRENT_DIRECTORY: return CFileException::removeCurrentDir;
    case ERROR_CANNOT_MAKE: return CFileException::directoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK: return CFileException::badSeek;
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_CRC:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_IO_DEVICE:
    case ERROR_DEVICE_NOT_CONNECTED: return CFileException::hardIO;
    case ERROR_SHARING_VIOLATION: return CFileException::sharingViolation;
    case ERROR_LOCK_VIOLATION: return CFileException::lockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return CFileException::diskFull;
    case ERROR_HANDLE_EOF: return CFileException::endOfFile;
    default: return CFileException::genericException;
    }
}

}  // namespace platform
