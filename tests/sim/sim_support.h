// What the simulator's tests share: a raw client on the pseudo-terminal and frame helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sim/simulator.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Three bytes and their CRC, framed by the client's own code.
Bytes Wire(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2);
Bytes Join(std::initializer_list<Bytes> parts);
bool Intact(const Bytes& frame);
std::string Hex(const Bytes& bytes);

// Names a case of a parameterised test after its `name` field.
template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& param)
{
    return param.param.name;
}

namespace {
// Shows a case by its name in test listings rather than as raw bytes. In the unnamed
// namespace of each test file, where the case structs live, so that gtest finds it.
template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c)
{
    return os << c.name;
}
}  // namespace

struct Arrival {
    std::uint8_t value;
    Clock::time_point at;
};

// The program under test's end of the line: the slave opened the way a serial port is.
class PtyClient {
public:
    explicit PtyClient(const std::string& path);
    ~PtyClient();
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    int Fd() const { return m_fd; }
    // Returns when the bytes are handed to the terminal.
    Clock::time_point Send(const Bytes& bytes);
    // What came within the timeout, stopping early once `count` bytes are in.
    Bytes Receive(std::size_t count, std::chrono::milliseconds timeout);
    std::vector<Arrival> ReceiveTimed(std::size_t count, std::chrono::milliseconds timeout);
    // True when nothing at all arrives within the time.
    bool Quiet(std::chrono::milliseconds time) { return Receive(1, time).empty(); }

private:
    int m_fd = -1;
};

// A started simulator with a client attached, at no line delay unless asked.
struct Rig {
    explicit Rig(const pscsim::Timing& timing = pscsim::Timing::Fast());

    // Sends a request and collects up to `count` bytes of answer.
    Bytes Ask(const Bytes& request, std::size_t count = 5, std::chrono::milliseconds timeout = 1000ms);

    pscsim::Simulator sim;
    PtyClient client;
};

}  // namespace simtest
