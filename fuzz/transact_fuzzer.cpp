// libFuzzer target of the request/reply exchange. Transact runs against the scripted
// device and manual clock of the unit tests; the fuzzer's input decides what arrives
// when, in which pieces, and how the clock moves between readings.
//
// Input format (bytes missing at the end read as 0):
//
//   [0] flags
//         bits 0-1  transmit-empty wait: 0 reports at once, 1 reports received characters
//                   twice first, 2 the wait call fails, 3 the event never comes
//         bit 2     the port is not open
//         bit 3     the clock starts just below its 32-bit wrap
//         bit 4     the read numbered [5] fails with an operating-system error
//         bit 5     the device accepts only [5] % 5 bytes of a write (a short write)
//         bit 6     the script starts before the request: its first chunks are already
//                   on their way when the exchange begins (delay 0: waiting in the queue)
//   [1] the expected reply address
//   [2] [3] [4] request bytes 0, 1 and 2
//   [5] parameter of flags bits 3 to 5
//   [6] clock program: 1 + (value & 7) steps follow, each the milliseconds one reading
//       of the clock moves it on; they repeat in a cycle (all zero: the clock moves 1 ms)
//   then chunks and markers up to the end of the input:
//     0xFF          later chunks answer the next transmission
//     0xFE d f      1024 bytes of value f, arriving 4*d ms after the transmission
//     t d b...      (t < 0xFE) t % 64 bytes b..., arriving 4*d ms after the transmission
//   Chunks are delivered one per read, in script order, once their time has come.
//
// Besides memory safety (the reply record is a five-byte heap block of its own) it checks
// what the exchange promises:
//   - success only with five bytes that carry an intact CRC, the expected address and
//     the echo of request byte 2, taken in one piece from what the last receive window
//     read; without overflow, exactly the first such candidate of a window is taken,
//     and a bad first candidate blocks its window;
//   - the record unchanged on failure; failure after five transmissions at least 500 ms
//     apart when the port is open;
//   - at most five transmissions, each the request with its CRC;
//   - it always ends: clock readings and reads are bounded, the run aborts past them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/afx/file.h"
#include "protocol/CtrlFrame.h"
#include "protocol/Transact.h"
#include "tests/unit/fake_port.h"

namespace {

// Time passes at least 1 ms every 8 readings; the exchange spends at most 5 times the
// transmit bound, the window and one step, so this is far above any run that ends.
constexpr unsigned long kMaxClockReadings = 400000;
constexpr unsigned long kMaxReads = 400000;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "exchange promise broken: %s\n", what);
    std::abort();
}

#define CHECK(cond)      \
    do {                 \
        if (!(cond))     \
            Fail(#cond); \
    } while (0)

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_pos >= m_size; }
    std::uint8_t Next() { return m_pos < m_size ? m_data[m_pos++] : 0; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

class ProgrammedClock : public fake::Clock {
public:
    ProgrammedClock(std::uint32_t start, std::vector<std::uint32_t> steps)
        : fake::Clock(start, 0), m_steps(std::move(steps))
    {
        bool moves = false;
        for (std::uint32_t s : m_steps)
            moves = moves || s != 0;
        if (!moves)
            m_steps = {1};
    }

    std::uint32_t Now() override
    {
        if (++readings > kMaxClockReadings)
            Fail("the exchange does not end: too many clock readings");
        const std::uint32_t t = now;
        now += m_steps[m_next];
        m_next = (m_next + 1) % m_steps.size();
        return t;
    }

    unsigned long readings = 0;

private:
    std::vector<std::uint32_t> m_steps;
    std::size_t m_next = 0;
};

struct Chunk {
    int attempt;  // -1: before the exchange
    std::uint32_t delayMs;
    fake::Bytes bytes;
};

struct ReadRecord {
    std::size_t writesBefore;
    fake::Bytes bytes;
};

// The scripted device, with a record of what every read delivered.
class RecordingDevice : public fake::Device {
public:
    RecordingDevice(fake::Clock& clock, std::shared_ptr<fake::DeviceLog> log)
        : fake::Device(clock, log), m_log(std::move(log))
    {
    }

    platform::OsError Read(void* buffer, std::size_t capacity, std::size_t& received) override
    {
        if (++reads > kMaxReads)
            Fail("the exchange does not end: too many reads");
        CHECK(capacity <= SERIAL_RX_BUF_SIZE);
        if (failRead != 0 && reads == failRead) {
            received = 0;
            return 5;
        }
        const platform::OsError error = fake::Device::Read(buffer, capacity, received);
        if (received > 0) {
            const auto* bytes = static_cast<const std::uint8_t*>(buffer);
            history.push_back({m_log->writes.size(), fake::Bytes(bytes, bytes + received)});
        }
        return error;
    }

    unsigned long reads = 0;
    unsigned long failRead = 0;
    std::vector<ReadRecord> history;

private:
    std::shared_ptr<fake::DeviceLog> m_log;
};

bool Contains(const fake::Bytes& haystack, const std::uint8_t* needle)
{
    for (std::size_t p = 0; p + FRAME_LEN <= haystack.size(); ++p) {
        if (std::memcmp(haystack.data() + p, needle, FRAME_LEN) == 0)
            return true;
    }
    return false;
}

// What one receive window must give, judged from its reads alone: the first position
// with five bytes, the expected address and the echo decides it, once it is complete.
// Past the accumulation buffer's size the outcome depends on which bytes were dropped.
struct WindowVerdict {
    enum { Failure, Success, Unknown } kind = Failure;
    std::size_t atRead = 0;  // index into the history of the read that completes a success
    std::uint8_t frame[FRAME_LEN] = {};
};

WindowVerdict JudgeWindow(const std::vector<ReadRecord>& history, std::size_t window, int nAddr, std::uint8_t echo)
{
    WindowVerdict verdict;
    fake::Bytes stream;
    bool blocked = false;
    for (std::size_t i = 0; i < history.size(); ++i) {
        if (history[i].writesBefore != window + 1)
            continue;
        stream.insert(stream.end(), history[i].bytes.begin(), history[i].bytes.end());
        if (stream.size() > TRANSACT_ACCUM_SIZE) {
            // Dropping the oldest bytes may also drop a blocking candidate.
            verdict.kind = WindowVerdict::Unknown;
            return verdict;
        }
        for (std::size_t p = 0; !blocked && p + FRAME_LEN <= stream.size(); ++p) {
            if (static_cast<int>(stream[p]) != nAddr || stream[p + 1] != echo)
                continue;
            if (!IsFrameIntact(&stream[p])) {
                blocked = true;  // for the rest of the window
                break;
            }
            verdict.kind = WindowVerdict::Success;
            verdict.atRead = i;
            std::memcpy(verdict.frame, &stream[p], FRAME_LEN);
            return verdict;
        }
    }
    return verdict;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const std::uint8_t flags = in.Next();
    const int nAddr = in.Next();
    const std::uint8_t request[3] = {in.Next(), in.Next(), in.Next()};
    const std::uint8_t param = in.Next();
    const unsigned stepCount = 1 + (in.Next() & 7u);
    std::vector<std::uint32_t> steps;
    for (unsigned i = 0; i < stepCount; ++i)
        steps.push_back(in.Next());

    std::vector<Chunk> script;
    int attempt = (flags & 0x40) ? -1 : 0;
    while (!in.Empty()) {
        const std::uint8_t tag = in.Next();
        if (tag == 0xFF) {
            ++attempt;
            continue;
        }
        Chunk chunk{attempt, 4u * in.Next(), {}};
        if (tag == 0xFE) {
            chunk.bytes.assign(1024, in.Next());
        } else {
            for (unsigned i = 0; i < tag % 64u; ++i)
                chunk.bytes.push_back(in.Next());
        }
        script.push_back(std::move(chunk));
    }

    const std::uint32_t start = (flags & 0x08) ? 0xFFFFFFFFu - 4u * param : 0u;
    ProgrammedClock clock(start, steps);
    auto log = std::make_shared<fake::DeviceLog>();
    fake::Opener opener;
    auto owned = std::make_unique<RecordingDevice>(clock, log);
    RecordingDevice& device = *owned;
    opener.device = std::move(owned);
    device.txEmpty = static_cast<fake::TxEmptyBehaviour>(flags & 3u);
    if (flags & 0x10)
        device.failRead = 1u + param;
    if (flags & 0x20)
        device.writeLimit = param % FRAME_LEN;

    for (const Chunk& chunk : script) {
        if (chunk.attempt < 0)
            device.Deliver(chunk.delayMs, chunk.bytes);
    }
    device.onWrite = [&script](fake::Device& d, int index, const fake::Bytes&) {
        for (const Chunk& chunk : script) {
            if (chunk.attempt == index)
                d.Deliver(chunk.delayMs, chunk.bytes);
        }
    };

    CSerialPort port(opener.Get());
    const bool open = (flags & 0x04) == 0;
    if (open) {
        port.m_dcb.BaudRate = 2400;
        CHECK(port.Open() == 1);
    }

    // A block of exactly five bytes, so that a write past the record is caught.
    auto record = std::make_unique<CtrlFrame>();
    std::memcpy(record->data, request, 3);
    record->data[3] = 0xA5;
    record->data[4] = 0x5A;
    CtrlFrame before = *record;

    int result = -1;
    bool raised = false;
    try {
        result = Transact(port, nAddr, *record, clock);
    } catch (const CFileException&) {
        raised = true;
    }

    // Never more than five transmissions, each the request with a fresh CRC.
    std::uint8_t wire[FRAME_LEN];
    BuildRequest(before, wire);
    CHECK(log->writes.size() <= static_cast<std::size_t>(TRANSACT_ATTEMPTS));
    for (const auto& write : log->writes) {
        CHECK(write.bytes.size() <= FRAME_LEN);
        CHECK(write.bytes.empty() || std::memcmp(write.bytes.data(), wire, write.bytes.size()) == 0);
    }

    if (!open) {
        CHECK(!raised && result == 0);
        CHECK(log->writes.empty() && device.reads == 0);
        CHECK(std::memcmp(record.get(), &before, sizeof before) == 0);
        return 0;
    }
    CHECK(port.m_bOpen == 1);  // whatever the outcome

    if (raised || result == 0) {
        CHECK(std::memcmp(record.get(), &before, sizeof before) == 0);
        if (raised)
            return 0;
        CHECK(log->writes.size() == static_cast<std::size_t>(TRANSACT_ATTEMPTS));
        for (std::size_t i = 1; i < log->writes.size(); ++i)
            CHECK(log->writes[i].at - log->writes[i - 1].at >= TRANSACT_WINDOW_MS);
    } else {
        CHECK(result == 1);
        const std::uint8_t* reply = record->data;
        CHECK(IsFrameIntact(reply));
        CHECK(static_cast<int>(reply[0]) == nAddr);
        CHECK(reply[1] == before.data[2]);
        CHECK(!log->writes.empty());
        // Taken in one piece from what the last window read.
        fake::Bytes lastWindow;
        for (const ReadRecord& read : device.history) {
            if (read.writesBefore == log->writes.size())
                lastWindow.insert(lastWindow.end(), read.bytes.begin(), read.bytes.end());
        }
        CHECK(Contains(lastWindow, reply));
        CHECK(device.history.empty() || device.history.back().writesBefore == log->writes.size());
    }

    // Window by window, as far as the outcome can be told from the reads.
    const std::size_t windows = log->writes.size();
    for (std::size_t w = 0; w < windows; ++w) {
        const WindowVerdict verdict = JudgeWindow(device.history, w, nAddr, before.data[2]);
        if (verdict.kind == WindowVerdict::Unknown)
            break;
        const bool last = w + 1 == windows;
        if (verdict.kind == WindowVerdict::Success) {
            CHECK(last && result == 1);
            CHECK(std::memcmp(record->data, verdict.frame, FRAME_LEN) == 0);
            CHECK(verdict.atRead + 1 == device.history.size());
        } else {
            CHECK(!(last && result == 1));
        }
    }
    return 0;
}
