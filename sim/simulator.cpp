#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "protocol/CtrlFrame.h"

namespace pscsim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void Reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

[[noreturn]] void ThrowErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

std::string Hex(const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += cell;
    }
    return text;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) { return Hex(bytes.data(), bytes.size()); }

std::string Hex2(unsigned value)
{
    char cell[3];
    std::snprintf(cell, sizeof cell, "%02X", value & 0xFFu);
    return cell;
}

timespec ToTimespec(Clock::time_point when)
{
    const auto since = std::chrono::duration_cast<nanoseconds>(when.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(since / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(since % 1'000'000'000);
    return ts;
}

bool IsValidAddress(int address) { return address >= ADDR_MIN && address <= ADDR_MAX; }

// Three bytes and a fresh CRC, through the same code the client frames its requests with.
Frame Seal(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    std::uint8_t wire[FRAME_LEN];
    BuildRequest(CtrlFrame{{b0, b1, b2, 0, 0}}, wire);
    return Frame(wire, wire + FRAME_LEN);
}

// A byte and the moment it is due: fully received (inbound) or to be written (outbound).
struct TimedByte {
    std::uint8_t value;
    Clock::time_point due;
};

}  // namespace

struct Simulator::Impl {
    Impl();

    void Serve();
    bool Interrupted() const { return stopRequested.load() || hangupRequested.load(); }
    bool SleepUntil(Clock::time_point deadline);
    void DrainWake();
    void ReadInput();
    void ScanInput();
    void HandleRequest(const Frame& request, Clock::time_point receivedAt);
    bool Transmit(const std::vector<TimedByte>& plan);
    void ClearExclusive();
    void DoHangUp(std::vector<std::string>& lines);

    // Records a trace line; the caller holds `mutex` and emits `lines` once it is released.
    void Note(std::vector<std::string>& lines, std::string line);
    void Emit(const std::vector<std::string>& lines);

    std::string slavePath;
    UniqueFd master;
    // Held so that the client's close and reopen never leave the master without a slave.
    UniqueFd slave;
    // Stop and HangUp poke this to cut any wait short.
    UniqueFd wake;
    // Tells when an opener of the slave closes it, see ClearExclusive().
    UniqueFd closeWatch;

    std::mutex lifecycle;
    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> hangupRequested{false};

    mutable std::mutex mutex;
    mutable std::condition_variable requestArrived;
    int address = 1;
    int mode = 0;
    std::uint8_t status = 0x01;
    Timing timing;
    Faults faults;
    TraceSink sink;
    bool hungUp = false;
    std::vector<Frame> received;
    std::vector<Frame> sent;
    std::vector<std::string> trace;
    int requests = 0;

    // Serving thread only.
    std::vector<TimedByte> input;
    Clock::time_point inboundFree{};
};

Simulator::Impl::Impl()
{
    master = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master)
        ThrowErrno("posix_openpt");
    if (grantpt(master.Get()) != 0)
        ThrowErrno("grantpt");
    if (unlockpt(master.Get()) != 0)
        ThrowErrno("unlockpt");
    char name[128];
    if (const int err = ptsname_r(master.Get(), name, sizeof name); err != 0) {
        errno = err;
        ThrowErrno("ptsname_r");
    }
    slavePath = name;

    // Non-blocking, so that a client that stops reading never wedges the serving loop.
    const int flags = fcntl(master.Get(), F_GETFL);
    if (flags < 0 || fcntl(master.Get(), F_SETFL, flags | O_NONBLOCK) != 0)
        ThrowErrno("fcntl");

    slave = UniqueFd(::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave)
        ThrowErrno("open pty slave");
    // Raw, so that a client that does not set up the line still gets the bytes unaltered.
    termios tio{};
    if (tcgetattr(slave.Get(), &tio) != 0)
        ThrowErrno("tcgetattr");
    cfmakeraw(&tio);
    cfsetispeed(&tio, B2400);
    cfsetospeed(&tio, B2400);
    if (tcsetattr(slave.Get(), TCSANOW, &tio) != 0)
        ThrowErrno("tcsetattr");

    wake = UniqueFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake)
        ThrowErrno("eventfd");

    closeWatch = UniqueFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!closeWatch)
        ThrowErrno("inotify_init1");
    if (inotify_add_watch(closeWatch.Get(), slavePath.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        ThrowErrno("inotify_add_watch");
}

void Simulator::Impl::Note(std::vector<std::string>& lines, std::string line)
{
    trace.push_back(line);
    lines.push_back(std::move(line));
}

void Simulator::Impl::Emit(const std::vector<std::string>& lines)
{
    if (lines.empty())
        return;
    TraceSink copy;
    {
        std::lock_guard<std::mutex> lock(mutex);
        copy = sink;
    }
    if (copy) {
        for (const auto& line : lines)
            copy(line);
    }
}

void Simulator::Impl::DrainWake()
{
    std::uint64_t count = 0;
    while (::read(wake.Get(), &count, sizeof count) > 0) {
    }
}

// Polls for the long part of a wait, so Stop can cut it short, and sleeps the last
// stretch on the monotonic clock for precision. False when interrupted.
bool Simulator::Impl::SleepUntil(Clock::time_point deadline)
{
    for (;;) {
        if (Interrupted())
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return true;
        const auto left = deadline - now;
        if (left > milliseconds(2)) {
            const auto ms = std::chrono::duration_cast<milliseconds>(left - milliseconds(1)).count();
            pollfd pfd{wake.Get(), POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(std::min<long long>(ms, 60'000))) > 0)
                DrainWake();
            continue;
        }
        const timespec ts = ToTimespec(deadline);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
}

void Simulator::Impl::Serve()
{
    for (;;) {
        if (stopRequested.load() || !master)
            return;
        if (hangupRequested.load()) {
            std::vector<std::string> lines;
            {
                std::lock_guard<std::mutex> lock(mutex);
                DoHangUp(lines);
            }
            Emit(lines);
            return;
        }

        pollfd pfds[3] = {
            {wake.Get(), POLLIN, 0},
            {master.Get(), POLLIN, 0},
            {closeWatch.Get(), POLLIN, 0},
        };
        if (::poll(pfds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (pfds[0].revents & POLLIN)
            DrainWake();
        if (pfds[2].revents & POLLIN)
            ClearExclusive();
        if (pfds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ReadInput();
            ScanInput();
        }
    }
}

// The client locks the port with TIOCEXCL. On a real port that ends with its last
// close; here our own slave descriptor keeps the terminal alive, so the flag would
// outlive the client and lock it out of its next open. Any close by an opener of the
// slave is taken as the end of that session.
void Simulator::Impl::ClearExclusive()
{
    alignas(inotify_event) char events[4096];
    bool closed = false;
    while (::read(closeWatch.Get(), events, sizeof events) > 0)
        closed = true;
    if (closed)
        (void)ioctl(slave.Get(), TIOCNXCL);
}

void Simulator::Impl::ReadInput()
{
    std::uint8_t chunk[256];
    Timing pace;
    {
        std::lock_guard<std::mutex> lock(mutex);
        pace = timing;
    }
    for (;;) {
        const ssize_t n = ::read(master.Get(), chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EIO) {
                // No slave open at all; only after a hang-up, which ends the loop. Back off.
                SleepUntil(Clock::now() + milliseconds(10));
            }
            return;
        }
        // The pty hands over at once what the line would take a byte time each to carry.
        const auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            inboundFree = std::max(now, inboundFree) + pace.byteTime;
            input.push_back({chunk[i], inboundFree});
        }
    }
}

void Simulator::Impl::ScanInput()
{
    std::vector<std::uint8_t> skipped;
    const auto flushSkipped = [&] {
        if (skipped.empty())
            return;
        std::vector<std::string> lines;
        {
            std::lock_guard<std::mutex> lock(mutex);
            Note(lines, "rx skipped " + Hex(skipped));
        }
        Emit(lines);
        skipped.clear();
    };

    std::size_t pos = 0;
    while (input.size() - pos >= FRAME_LEN && !Interrupted()) {
        std::uint8_t window[FRAME_LEN];
        for (std::size_t i = 0; i < FRAME_LEN; ++i)
            window[i] = input[pos + i].value;
        if (!IsFrameIntact(window)) {
            skipped.push_back(window[0]);
            ++pos;
            continue;
        }
        flushSkipped();
        // Not taken off the input until it is handled: a Stop here keeps it for the next Start.
        const auto complete = input[pos + FRAME_LEN - 1].due;
        if (!SleepUntil(complete))
            break;
        pos += FRAME_LEN;
        HandleRequest(Frame(window, window + FRAME_LEN), complete);
        if (!master) {
            input.clear();  // hung up: the rest went with the line
            return;
        }
    }
    flushSkipped();
    input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(pos));
}

void Simulator::Impl::DoHangUp(std::vector<std::string>& lines)
{
    if (hungUp)
        return;
    closeWatch.Reset();
    slave.Reset();
    master.Reset();
    hungUp = true;
    Note(lines, "-- hang-up");
}

void Simulator::Impl::HandleRequest(const Frame& request, Clock::time_point receivedAt)
{
    const std::uint8_t to = request[0];
    const std::uint8_t cmd = request[1];
    const std::uint8_t data = request[2];

    std::vector<std::string> lines;
    std::vector<TimedByte> plan;
    std::vector<std::string> txLines;
    Frame reply;
    Clock::time_point start{};
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(request);
        ++requests;
        requestArrived.notify_all();
        Note(lines, "rx " + Hex(request));

        if (faults.hangupAfter) {
            if (*faults.hangupAfter == 0) {
                faults.hangupAfter.reset();
                DoHangUp(lines);
            } else {
                --*faults.hangupAfter;
            }
        }

        std::optional<Frame> answer;
        if (hungUp) {
        } else if (faults.silent) {
            Note(lines, "-- no answer: silent");
        } else if (cmd == CMD_SET_ADDRESS) {
            if (to != ADDR_SET_ADDRESS)
                Note(lines, "-- no answer: set address goes to F0, not " + Hex2(to));
            else if (!IsValidAddress(data))
                Note(lines, "-- no answer: no such address " + Hex2(data));
            else if (faults.refuse)
                answer = Seal(data, data, 1);
            else {
                address = data;
                answer = Seal(data, data, 0);
            }
        } else if (to != address) {
            Note(lines, "-- no answer: for address " + Hex2(to) + ", ours is " + Hex2(unsigned(address)));
        } else if (cmd == CMD_READ_STATUS) {
            if (data == READ_STATUS_DATA)
                answer = Seal(to, READ_STATUS_DATA, status);
            else
                Note(lines, "-- no answer: read status with data " + Hex2(data));
        } else if (cmd == CMD_SET_MODE) {
            const bool acceptable = data == WORK_MODE_SWITCHOVER || data == WORK_MODE_MUTUAL;
            if (acceptable && !faults.refuse)
                mode = data;
            answer = Seal(to, data, acceptable && !faults.refuse ? 0 : 1);
        } else {
            Note(lines, "-- no answer: unknown command " + Hex2(cmd));
        }

        if (answer) {
            reply = *answer;
            if (faults.refuse && cmd != CMD_READ_STATUS)
                Note(lines, "-- fault: refused");
            if (faults.wrongAddress) {
                reply = Seal(static_cast<std::uint8_t>(reply[0] % ADDR_MAX + 1), reply[1], reply[2]);
                Note(lines, "-- fault: reply from another address");
            }
            if (faults.commandEcho) {
                reply = Seal(reply[0], cmd, reply[2]);
                Note(lines, "-- fault: command code in place of the echo");
            }
            if (faults.badCrcReplies > 0) {
                --faults.badCrcReplies;
                reply[FRAME_LEN - 1] ^= 0x5A;
                Note(lines, "-- fault: bad CRC");
            }

            start = receivedAt + timing.turnaround + faults.lateBy;
            if (faults.lateBy > milliseconds::zero())
                Note(lines, "-- fault: late by " + std::to_string(faults.lateBy.count()) + " ms");
            auto due = start;
            for (const auto byte : faults.garbage) {
                due += timing.byteTime;
                plan.push_back({byte, due});
            }
            const int piece = faults.splitPieceBytes;
            for (std::size_t i = 0; i < reply.size(); ++i) {
                if (faults.splitGap && i > 0 && i % static_cast<std::size_t>(piece) == 0)
                    due += *faults.splitGap;
                due += timing.byteTime;
                plan.push_back({reply[i], due});
            }
            if (faults.splitGap) {
                Note(lines, "-- fault: split into " + std::to_string(piece) + "-byte pieces, " +
                                std::to_string(faults.splitGap->count()) + " ms apart");
            }
            if (!faults.garbage.empty())
                txLines.push_back("tx garbage " + Hex(faults.garbage));
            txLines.push_back("tx " + Hex(reply));
        }
    }
    Emit(lines);
    if (plan.empty() || !SleepUntil(start))
        return;

    lines.clear();
    {
        std::lock_guard<std::mutex> lock(mutex);
        sent.push_back(reply);
        for (auto& line : txLines)
            Note(lines, std::move(line));
    }
    Emit(lines);
    Transmit(plan);
}

// Writes each byte when it is due; bytes due together go out in one write.
bool Simulator::Impl::Transmit(const std::vector<TimedByte>& plan)
{
    std::size_t i = 0;
    while (i < plan.size()) {
        std::size_t end = i + 1;
        while (end < plan.size() && plan[end].due == plan[i].due)
            ++end;
        if (!SleepUntil(plan[i].due))
            return false;
        std::uint8_t bytes[64];
        std::size_t count = 0;
        while (i < end) {
            count = 0;
            while (i < end && count < sizeof bytes)
                bytes[count++] = plan[i++].value;
            std::size_t done = 0;
            while (done < count) {
                const ssize_t n = ::write(master.Get(), bytes + done, count - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && errno != EAGAIN)
                    return false;
                // The client's input queue is full: wait for room, or for Stop.
                pollfd pfds[2] = {{master.Get(), POLLOUT, 0}, {wake.Get(), POLLIN, 0}};
                (void)::poll(pfds, 2, 100);
                if (Interrupted())
                    return false;
            }
        }
    }
    return true;
}

Simulator::Simulator() : m_impl(std::make_unique<Impl>()) {}

Simulator::~Simulator() { Stop(); }

const std::string& Simulator::SlavePath() const { return m_impl->slavePath; }

void Simulator::Start()
{
    std::lock_guard<std::mutex> lock(m_impl->lifecycle);
    if (m_impl->running.load())
        return;
    {
        std::lock_guard<std::mutex> state(m_impl->mutex);
        if (m_impl->hungUp)
            throw std::logic_error("pscsim: the pseudo-terminal has been hung up");
    }
    if (m_impl->thread.joinable())
        m_impl->thread.join();  // ended by a hang-up of its own
    m_impl->stopRequested = false;
    m_impl->DrainWake();
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->Serve(); });
    m_impl->running = true;
}

void Simulator::Stop()
{
    std::lock_guard<std::mutex> lock(m_impl->lifecycle);
    if (!m_impl->thread.joinable())
        return;
    m_impl->stopRequested = true;
    const std::uint64_t one = 1;
    (void)::write(m_impl->wake.Get(), &one, sizeof one);
    m_impl->thread.join();
    m_impl->running = false;
}

bool Simulator::Running() const
{
    if (!m_impl->running.load())
        return false;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return !m_impl->hungUp;
}

int Simulator::Address() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->address;
}

void Simulator::SetAddress(int address)
{
    if (!IsValidAddress(address))
        throw std::invalid_argument("pscsim: address must be 1 to 32");
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->address = address;
}

int Simulator::Mode() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->mode;
}

void Simulator::SetMode(int mode)
{
    if (mode != WORK_MODE_SWITCHOVER && mode != WORK_MODE_MUTUAL)
        throw std::invalid_argument("pscsim: mode must be 0 or 1");
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->mode = mode;
}

std::uint8_t Simulator::Status() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->status;
}

void Simulator::SetStatus(std::uint8_t status)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->status = status;
}

Timing Simulator::LineTiming() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->timing;
}

void Simulator::SetTiming(const Timing& timing)
{
    if (timing.byteTime < nanoseconds::zero() || timing.turnaround < nanoseconds::zero())
        throw std::invalid_argument("pscsim: timing must not be negative");
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->timing = timing;
}

Faults Simulator::CurrentFaults() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->faults;
}

void Simulator::SetFaults(const Faults& faults)
{
    if (faults.badCrcReplies < 0 || faults.splitPieceBytes < 1 || faults.lateBy < milliseconds::zero() ||
        (faults.splitGap && *faults.splitGap < milliseconds::zero()) ||
        (faults.hangupAfter && *faults.hangupAfter < 0))
        throw std::invalid_argument("pscsim: fault parameters must not be negative");
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->faults = faults;
}

void Simulator::SetTraceSink(TraceSink sink)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->sink = std::move(sink);
}

void Simulator::HangUp()
{
    std::lock_guard<std::mutex> lock(m_impl->lifecycle);
    if (m_impl->running.load()) {
        // The serving thread owns the descriptors while it runs.
        m_impl->hangupRequested = true;
        const std::uint64_t one = 1;
        (void)::write(m_impl->wake.Get(), &one, sizeof one);
        m_impl->thread.join();
        m_impl->running = false;
        m_impl->hangupRequested = false;
        return;
    }
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> state(m_impl->mutex);
        m_impl->DoHangUp(lines);
    }
    m_impl->Emit(lines);
}

bool Simulator::HungUp() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->hungUp;
}

std::vector<Frame> Simulator::ReceivedFrames() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->received;
}

std::vector<Frame> Simulator::SentFrames() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->sent;
}

std::vector<std::string> Simulator::Trace() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->trace;
}

int Simulator::RequestCount() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->requests;
}

bool Simulator::WaitForRequests(int n, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    return m_impl->requestArrived.wait_for(lock, timeout, [&] { return m_impl->requests >= n; });
}

}  // namespace pscsim
