// The serial primitives each platform backend provides: one open COM port handle.
// The port channel builds its open sequence, reads and writes from these calls alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// An operating-system error code (errno on POSIX, GetLastError() on Windows); 0 is success.
using OsError = long;

// Events that WaitCommEvent can report.
constexpr std::uint32_t kEventRxChar = 0x0001;
constexpr std::uint32_t kEventTxEmpty = 0x0004;

// The line settings the port channel controls. Everything else about the line is the
// backend's: it keeps the line binary-safe (no flow control characters, no translation).
struct LineSettings {
    std::uint32_t BaudRate = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;    // 0 = none
    std::uint8_t StopBits = 0;  // 0 = one stop bit
    bool fOutxCtsFlow = false;
    std::uint8_t fDtrControl = 0;  // 0 = DTR held off
};

struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

enum class WaitResult { Event, TimedOut, Failed };

class SerialDevice {
public:
    virtual ~SerialDevice() = default;  // releases the handle if Close() was not called

    virtual OsError SetCommMask(std::uint32_t events) = 0;
    virtual OsError SetupComm(std::uint32_t rxQueue, std::uint32_t txQueue) = 0;
    virtual OsError SetCommTimeouts(const CommTimeouts& timeouts) = 0;
    virtual OsError GetCommState(LineSettings& settings) = 0;
    virtual OsError SetCommState(const LineSettings& settings) = 0;

    // Returns at once with what has arrived, possibly nothing. A line that hung up is an error.
    virtual OsError Read(void* buffer, std::size_t capacity, std::size_t& received) = 0;
    // Returns when all bytes are queued for transmission; `written` < `count` is a short write.
    virtual OsError Write(const void* data, std::size_t count, std::size_t& written) = 0;

    // Waits up to `timeoutMs` for an event of the mask set with SetCommMask.
    virtual WaitResult WaitCommEvent(std::uint32_t& events, std::uint32_t timeoutMs) = 0;

    // Drops whatever waits in the driver's receive queue.
    virtual OsError PurgeReceive() = 0;

    // Releases the handle; the device is unusable afterwards, whatever the result.
    virtual OsError Close() = 0;
};

struct OpenResult {
    std::unique_ptr<SerialDevice> device;  // null on failure
    OsError error = 0;
};

// Opens "COM1" to "COM8" exclusively for reading and writing; any other name fails.
OpenResult OpenSerialDevice(const std::string& comName);

using SerialOpener = std::function<OpenResult(const std::string& comName)>;

// The file-exception cause for an operating-system error code of this platform.
int FileCauseFromOsError(OsError error);

}  // namespace platform
