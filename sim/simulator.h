// pscsim: a simulated power switch controller on a pseudo-terminal.
//
// The program under test opens SlavePath() as its serial port; the simulator answers
// on the master side, at the pace of a real 2400 baud line unless told otherwise, and
// misbehaves on request so that the client's error handling can be exercised.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pscsim {

// One byte on a 2400 baud 8N1 line: start bit, eight data bits, stop bit.
inline constexpr std::chrono::nanoseconds kByteTime2400{10'000'000'000LL / 2400};
inline constexpr std::chrono::nanoseconds kDefaultTurnaround{std::chrono::milliseconds(5)};

// The pace of the line. The byte time applies in both directions: a request counts as
// received only when its last byte would have come off the wire, and a reply leaves one
// byte at a time, each written when it would have fully arrived.
struct Timing {
    std::chrono::nanoseconds byteTime = kByteTime2400;
    // From the end of a request to the start of its reply.
    std::chrono::nanoseconds turnaround = kDefaultTurnaround;

    static Timing Line2400() { return Timing{}; }
    // No line delays at all, for tests that only care about the bytes.
    static Timing Fast() { return Timing{std::chrono::nanoseconds::zero(), std::chrono::nanoseconds::zero()}; }
};

// Bytes that cannot start a reply from any address 1 to 32.
inline const std::vector<std::uint8_t> kDefaultGarbage{0xFF, 0x00, 0xAA, 0x55};

// Misbehaviour on request. Several may be combined; the default is a healthy controller.
struct Faults {
    // Takes in requests (they are traced and counted) but neither acts on them nor
    // answers, like a controller that is not there.
    bool silent = false;
    // Set address and set mode are refused: result byte 1, state unchanged. A refused
    // set address still answers from the requested address, as the client expects.
    // Read status is not affected.
    bool refuse = false;
    // The next N replies carry a corrupted CRC; counts down as replies go out.
    int badCrcReplies = 0;
    // Sent before every reply when not empty.
    std::vector<std::uint8_t> garbage;
    // When set, a reply leaves in pieces of splitPieceBytes with this gap between them.
    std::optional<std::chrono::milliseconds> splitGap;
    int splitPieceBytes = 2;
    // The reply carries the next address up (32 wraps to 1), with an intact CRC.
    bool wrongAddress = false;
    // Byte 1 of the reply carries the request's command code instead of its echo.
    bool commandEcho = false;
    // Extra delay before every reply, on top of the turnaround.
    std::chrono::milliseconds lateBy{0};
    // When set to N: the next N requests are served, and the one after makes the
    // controller hang up instead of answering (0: the very next request). Counts down
    // as requests come in.
    std::optional<int> hangupAfter;
};

// Receives every trace line as it happens:
//   "rx 01 03 02 A1 31"       an intact five-byte frame received (a request)
//   "rx skipped 55 AA"        bytes dropped while looking for a frame
//   "tx 01 02 01 61 F0"       a reply sent, exactly as it went out
//   "tx garbage FF 00 AA 55"  bytes sent ahead of a reply
//   "-- ..."                  why a request got no answer, which fault shaped a reply
using TraceSink = std::function<void(const std::string& line)>;

using Frame = std::vector<std::uint8_t>;

class Simulator {
public:
    // Opens the pseudo-terminal; throws std::system_error when the system refuses.
    Simulator();
    // Stops the serving thread and closes the pseudo-terminal.
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The /dev/pts/N path the program under test opens.
    const std::string& SlavePath() const;

    // Starts serving on a thread of its own; does nothing when already running. Throws
    // std::logic_error once hung up. Start, Stop and HangUp belong to one controlling
    // thread; everything else may be called from anywhere at any time.
    void Start();
    // Ends the serving thread within a few milliseconds, even in the middle of a reply.
    void Stop();
    bool Running() const;

    // Controller state. Setters throw std::invalid_argument outside the ranges.
    int Address() const;  // 1 to 32, default 1
    void SetAddress(int address);
    int Mode() const;  // 0 or 1, default 0
    void SetMode(int mode);
    std::uint8_t Status() const;  // default 0x01
    void SetStatus(std::uint8_t status);

    Timing LineTiming() const;
    void SetTiming(const Timing& timing);
    // The faults in force, with the counters as far as they have run down.
    Faults CurrentFaults() const;
    void SetFaults(const Faults& faults);

    // Called on the serving thread, never with a lock held: it may call back in.
    void SetTraceSink(TraceSink sink);

    // Closes both ends of the pseudo-terminal now: the client's reads report hang-up.
    void HangUp();
    bool HungUp() const;

    // What crossed the line so far.
    std::vector<Frame> ReceivedFrames() const;  // every intact frame, whatever its address
    std::vector<Frame> SentFrames() const;      // replies as sent, garbage not included
    std::vector<std::string> Trace() const;
    int RequestCount() const;  // intact frames received
    // True as soon as RequestCount() reaches n, false after the timeout.
    bool WaitForRequests(int n, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace pscsim
