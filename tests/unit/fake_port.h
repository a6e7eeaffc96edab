// A scripted serial device and a manual clock: the exchange runs against them with
// exact, fast timing.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "platform/tick.h"
#include "serial/SerialPort.h"

namespace fake {

using Bytes = std::vector<std::uint8_t>;

// Every reading of the clock moves it on by `step` milliseconds, so a polling loop
// sees time pass one step per turn.
class Clock : public platform::TickSource {
public:
    explicit Clock(std::uint32_t start = 0, std::uint32_t stepMs = 1) : now(start), step(stepMs) {}
    std::uint32_t Now() override
    {
        const std::uint32_t t = now;
        now += step;
        return t;
    }

    std::uint32_t now;
    std::uint32_t step;
};

enum class TxEmptyBehaviour { Immediate, RxCharFirst, Fails, Never };

// What the test wants to see of the device after the port object has let go of it.
struct DeviceLog {
    struct Write {
        std::uint32_t at;
        Bytes bytes;
    };
    std::vector<Write> writes;
    std::vector<std::uint32_t> readTimes;  // when each non-empty read delivered
    std::uint32_t mask = 0;
    std::uint32_t rxQueue = 0, txQueue = 0;
    platform::CommTimeouts timeouts;
    platform::LineSettings applied;
    int purges = 0;
    int closes = 0;
    bool destroyed = false;
};

class Device : public platform::SerialDevice {
public:
    Device(Clock& clock, std::shared_ptr<DeviceLog> log) : m_clock(clock), m_log(std::move(log)) {}
    ~Device() override { m_log->destroyed = true; }

    // Bytes that arrive `delayMs` after now, delivered by one read (split at 1024).
    void Deliver(std::uint32_t delayMs, Bytes bytes) { m_rx.push_back({m_clock.now + delayMs, std::move(bytes)}); }

    // Called after each write with its index (0 for the first) and bytes.
    std::function<void(Device&, int, const Bytes&)> onWrite;

    TxEmptyBehaviour txEmpty = TxEmptyBehaviour::Immediate;
    // The first failing call among the open sequence's, by name ("SetCommMask", ...).
    std::string failCall;
    platform::OsError failError = 0;
    platform::OsError readError = 0, writeError = 0, closeError = 0;
    std::size_t writeLimit = SIZE_MAX;  // a short write beyond this many bytes

    platform::OsError SetCommMask(std::uint32_t events) override;
    platform::OsError SetupComm(std::uint32_t rxQueue, std::uint32_t txQueue) override;
    platform::OsError SetCommTimeouts(const platform::CommTimeouts& timeouts) override;
    platform::OsError GetCommState(platform::LineSettings& settings) override;
    platform::OsError SetCommState(const platform::LineSettings& settings) override;
    platform::OsError Read(void* buffer, std::size_t capacity, std::size_t& received) override;
    platform::OsError Write(const void* data, std::size_t count, std::size_t& written) override;
    platform::WaitResult WaitCommEvent(std::uint32_t& events, std::uint32_t timeoutMs) override;
    platform::OsError PurgeReceive() override;
    platform::OsError Close() override;

private:
    platform::OsError Step(const char* name) const { return failCall == name ? failError : 0; }
    // Whether a moment has come, also across the wrap of the 32-bit clock.
    bool Due(std::uint32_t at) const { return static_cast<std::int32_t>(m_clock.now - at) >= 0; }

    struct Chunk {
        std::uint32_t at;
        Bytes bytes;
    };
    Clock& m_clock;
    std::shared_ptr<DeviceLog> m_log;
    std::deque<Chunk> m_rx;
    int m_waitCalls = 0;
};

// An opener that hands out `device` for any name and records the names asked for.
struct Opener {
    std::unique_ptr<Device> device;
    platform::OsError openError = 0;
    std::vector<std::string> names;

    platform::SerialOpener Get();
};

// A reply frame with an intact CRC.
Bytes Frame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2);
// The same frame with its CRC spoiled.
Bytes BadFrame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2);
Bytes Concat(std::initializer_list<Bytes> parts);

// A port opened on a scripted device, with the clock that times it.
struct Rig {
    explicit Rig(std::uint32_t start = 0)
        : clock(start), log(std::make_shared<DeviceLog>()), port(opener.Get())
    {
        opener.device = std::make_unique<Device>(clock, log);
        device = opener.device.get();
        port.m_dcb.BaudRate = 2400;
        port.Open();
    }

    Clock clock;
    std::shared_ptr<DeviceLog> log;
    Opener opener;
    Device* device = nullptr;  // owned by the port while it is open
    CSerialPort port;
};

}  // namespace fake
