// pscsoak: thousands of exchanges of the three device operations through the real port
// channel on the termios backend, against the simulated controller on a pseudo-terminal,
// with its faults switched at random between exchanges. Each outcome is checked against
// what the fault in force must give; a watchdog catches an exchange that does not end.
//
//   pscsoak [--exchanges N] [--seed S] [--time-scale K] [--verbose]
//
// --time-scale K runs the exchange's clock K times faster than the wall clock, so that a
// receive window lasts 500/K ms and an exchange without an answer 2.5/K s (default 10;
// 1 is the real timing). Exits 0 when every outcome was right, 1 on a wrong result,
// 2 on bad arguments, 3 on a hang.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/afx/file.h"
#include "platform/tick.h"
#include "protocol/Commands.h"
#include "protocol/CtrlFrame.h"
#include "protocol/Transact.h"
#include "serial/SerialPort.h"
#include "sim/simulator.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The system's millisecond tick, sped up.
class ScaledTick : public platform::TickSource {
public:
    explicit ScaledTick(std::uint32_t scale) : m_scale(scale) {}
    std::uint32_t Now() override { return platform::SystemTick().Now() * m_scale; }

private:
    std::uint32_t m_scale;
};

enum class Op { ReadStatus, SetWorkMode, SetAddress };
const char* OpName(Op op)
{
    switch (op) {
    case Op::ReadStatus: return "read status";
    case Op::SetWorkMode: return "set mode";
    case Op::SetAddress: return "set address";
    }
    return "?";
}

// What the controller holds; the soak's own account of it.
struct State {
    int address = 1;
    int mode = 0;
    std::uint8_t status = 0x01;
};

enum class Outcome { Success, Failure, FileError };
const char* OutcomeName(Outcome o)
{
    switch (o) {
    case Outcome::Success: return "success";
    case Outcome::Failure: return "failure";
    case Outcome::FileError: return "file error";
    }
    return "?";
}

struct Plan {
    std::string fault;  // for the report
    pscsim::Faults faults;
    Op op = Op::ReadStatus;
    int addrIndex = 0;     // the operator's selection
    int mode = 0;          // set mode
    std::uint8_t status = 0;  // what the controller reports, read status
    // How many windows later than their request's the replies land (5: after them all).
    int lateWindows = 0;
};

struct Expectation {
    Outcome outcome = Outcome::Success;
    State after;
    int transmissions = TRANSACT_ATTEMPTS;
};

Bytes Seal(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    std::uint8_t wire[FRAME_LEN];
    BuildRequest(CtrlFrame{{b0, b1, b2, 0, 0}}, wire);
    return Bytes(wire, wire + FRAME_LEN);
}

// How a receive window ends on the bytes it reads: the first position with the
// expected address and echo decides, intact (taken) or not (the window is blocked).
std::optional<Bytes> Accepted(const Bytes& stream, int addr, std::uint8_t echo)
{
    for (std::size_t p = 0; p + FRAME_LEN <= stream.size(); ++p) {
        if (stream[p] != addr || stream[p + 1] != echo)
            continue;
        if (!IsFrameIntact(&stream[p]))
            return std::nullopt;
        return Bytes(stream.begin() + static_cast<std::ptrdiff_t>(p), stream.begin() + static_cast<std::ptrdiff_t>(p + FRAME_LEN));
    }
    return std::nullopt;
}

// What the controller with these faults does with the request, and what the operation
// must report.
Expectation Expect(const Plan& plan, const State& before)
{
    Expectation e;
    e.after = before;
    const pscsim::Faults& f = plan.faults;
    if (f.hangupAfter) {
        e.outcome = Outcome::FileError;
        return e;
    }

    const int addr = plan.addrIndex + 1;
    std::uint8_t req0 = 0, cmd = 0, data = 0;
    switch (plan.op) {
    case Op::ReadStatus: req0 = static_cast<std::uint8_t>(addr), cmd = CMD_READ_STATUS, data = READ_STATUS_DATA; break;
    case Op::SetWorkMode: req0 = static_cast<std::uint8_t>(addr), cmd = CMD_SET_MODE, data = static_cast<std::uint8_t>(plan.mode); break;
    case Op::SetAddress: req0 = ADDR_SET_ADDRESS, cmd = CMD_SET_ADDRESS, data = static_cast<std::uint8_t>(addr); break;
    }

    // The controller's answer, before the faults that spoil it on the way.
    std::optional<Bytes> reply;
    if (!f.silent) {
        if (plan.op == Op::SetAddress) {
            reply = Seal(data, data, f.refuse ? 1 : 0);
            if (!f.refuse)
                e.after.address = data;
        } else if (req0 == before.address) {
            if (plan.op == Op::ReadStatus) {
                reply = Seal(req0, READ_STATUS_DATA, plan.status);
            } else {
                reply = Seal(req0, data, f.refuse ? 1 : 0);
                if (!f.refuse)
                    e.after.mode = data;
            }
        }
    }
    if (plan.op == Op::ReadStatus)
        e.after.status = plan.status;
    if (!reply) {
        e.outcome = Outcome::Failure;
        return e;
    }
    if (f.wrongAddress)
        *reply = Seal(static_cast<std::uint8_t>((*reply)[0] % ADDR_MAX + 1), (*reply)[1], (*reply)[2]);
    if (f.commandEcho)
        *reply = Seal((*reply)[0], cmd, (*reply)[2]);

    // One reply per transmission; the first badCrcReplies of them spoiled.
    e.outcome = Outcome::Failure;
    const int firstWindow = plan.lateWindows;
    for (int window = firstWindow; window < TRANSACT_ATTEMPTS; ++window) {
        Bytes answer = *reply;
        if (window - firstWindow < f.badCrcReplies)
            answer[FRAME_LEN - 1] ^= 0x5A;
        Bytes stream = f.garbage;
        stream.insert(stream.end(), answer.begin(), answer.end());
        if (const auto taken = Accepted(stream, addr, data)) {
            const bool ok = plan.op == Op::ReadStatus || (*taken)[2] == 0;
            e.outcome = ok ? Outcome::Success : Outcome::Failure;
            e.transmissions = window + 1;
            break;
        }
    }
    return e;
}

struct Counts {
    long exchanges = 0, successes = 0, expectedFailures = 0, fileErrors = 0, wrong = 0, hangs = 0;
};

void PrintCounts(const Counts& c, double seconds)
{
    std::printf("pscsoak: %ld exchanges, %ld successes, %ld expected failures (%ld of them file errors), "
                "%ld wrong results, %ld hangs, %.1f s\n",
                c.exchanges, c.successes, c.expectedFailures, c.fileErrors, c.wrong, c.hangs, seconds);
    std::fflush(stdout);
}

// A controller on a fresh pseudo-terminal, mapped to COM1, in the given state.
std::unique_ptr<pscsim::Simulator> StartController(const State& state)
{
    auto sim = std::make_unique<pscsim::Simulator>();
    if (sim->SlavePath().rfind("/dev/pts/", 0) != 0) {
        std::fprintf(stderr, "pscsoak: unexpected pseudo-terminal %s\n", sim->SlavePath().c_str());
        std::exit(1);
    }
    sim->SetTiming(pscsim::Timing::Fast());
    sim->SetAddress(state.address);
    sim->SetMode(state.mode);
    sim->SetStatus(state.status);
    setenv("PSCSETUP_COM1", sim->SlavePath().c_str(), 1);
    sim->Start();
    return sim;
}

}  // namespace

int main(int argc, char** argv)
{
    long exchanges = 3000;
    std::uint64_t seed = std::random_device{}();
    std::uint32_t scale = 10;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--exchanges" && hasValue)
            exchanges = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--seed" && hasValue)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--time-scale" && hasValue)
            scale = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--verbose")
            verbose = true;
        else {
            std::fprintf(stderr, "usage: %s [--exchanges N] [--seed S] [--time-scale K] [--verbose]\n", argv[0]);
            return 2;
        }
    }
    if (exchanges < 1 || scale < 1 || scale > 50) {
        std::fprintf(stderr, "pscsoak: --exchanges must be at least 1, --time-scale 1 to 50\n");
        return 2;
    }

    const auto window = milliseconds(TRANSACT_WINDOW_MS / scale);
    std::printf("pscsoak: seed %llu, %ld exchanges, time scale %u (receive window %lld ms)\n",
                static_cast<unsigned long long>(seed), exchanges, scale, static_cast<long long>(window.count()));
    std::fflush(stdout);

    std::mt19937_64 rng(seed);
    const auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); };
    ScaledTick tick(scale);
    State state;
    auto sim = StartController(state);
    CSerialPort port;
    port.m_nPortNo = 1;
    port.m_dcb.BaudRate = 2400;
    if (port.Open() != 1) {
        std::fprintf(stderr, "pscsoak: cannot open %s\n", sim->SlavePath().c_str());
        return 1;
    }

    // The watchdog: an exchange takes at most five transmit waits and windows.
    const auto hangLimit = milliseconds(TRANSACT_ATTEMPTS * (TRANSACT_TXEMPTY_BOUND_MS + TRANSACT_WINDOW_MS) / scale) +
                           milliseconds(5000);
    std::atomic<long> running{-1};  // the exchange under way, -1 between exchanges
    std::atomic<long long> startedAt{0};
    std::atomic<bool> done{false};
    std::mutex report;
    Counts counts;
    std::string currentFault;
    const auto soakStart = SteadyClock::now();
    const auto secondsSince = [](SteadyClock::time_point t) {
        return std::chrono::duration<double>(SteadyClock::now() - t).count();
    };
    std::thread watchdog([&] {
        while (!done.load()) {
            std::this_thread::sleep_for(milliseconds(100));
            const long n = running.load();
            const auto now = SteadyClock::now().time_since_epoch().count();
            if (n >= 0 && now - startedAt.load() > std::chrono::duration_cast<SteadyClock::duration>(hangLimit).count()) {
                std::lock_guard<std::mutex> lock(report);
                std::printf("pscsoak: HANG: exchange %ld (%s) has not ended after %lld ms; seed %llu\n", n,
                            currentFault.c_str(), static_cast<long long>(hangLimit.count()),
                            static_cast<unsigned long long>(seed));
                Counts c = counts;
                c.hangs = 1;
                PrintCounts(c, secondsSince(soakStart));
                std::_Exit(3);
            }
        }
    });

    for (long n = 0; n < exchanges; ++n) {
        Plan plan;
        plan.op = static_cast<Op>(pick(3));
        plan.addrIndex = plan.op == Op::SetAddress ? pick(32) : state.address - 1;
        plan.mode = pick(2);
        plan.status = static_cast<std::uint8_t>(pick(256));
        pscsim::Faults& f = plan.faults;

        // Weights: mostly answers that succeed, sometimes at once and sometimes after
        // retries; rarely the ones that cost all five windows.
        const int roll = pick(1000);
        if (roll < 300) {
            plan.fault = "none";
        } else if (roll < 400) {
            plan.fault = "refuse";
            f.refuse = true;
        } else if (roll < 480) {
            f.badCrcReplies = 1 + pick(4);
            plan.fault = "bad CRC x" + std::to_string(f.badCrcReplies);
        } else if (roll < 580) {
            const int length = 1 + pick(8);
            for (int i = 0; i < length; ++i)
                f.garbage.push_back(static_cast<std::uint8_t>(pick(4) == 0 ? state.address : pick(256)));
            plan.fault = "garbage x" + std::to_string(length);
        } else if (roll < 680) {
            f.splitPieceBytes = 1 + pick(4);
            f.splitGap = milliseconds(pick(static_cast<int>(window.count() / 10) + 1));
            plan.fault = "split " + std::to_string(f.splitPieceBytes) + "-byte pieces";
        } else if (roll < 760) {
            f.garbage = pscsim::kDefaultGarbage;
            f.splitPieceBytes = 1 + pick(3);
            f.splitGap = milliseconds(pick(3));
            f.badCrcReplies = pick(3);
            plan.fault = "garbage, split, bad CRC x" + std::to_string(f.badCrcReplies);
        } else if (roll < 800) {
            f.refuse = true;
            f.garbage = pscsim::kDefaultGarbage;
            plan.fault = "refuse after garbage";
        } else if (roll < 840) {
            f.lateBy = window / 4;
            plan.fault = "late within the window";
        } else if (roll < 870) {
            f.lateBy = window * 3 / 2;
            plan.lateWindows = 1;
            plan.fault = "late into the next window";
        } else if (roll < 910) {
            f.commandEcho = true;
            if (plan.op == Op::SetAddress && pick(2) == 0)
                plan.addrIndex = 3;  // address 4: the command code is the echo
            plan.fault = "command code as echo";
        } else if (roll < 925) {
            f.wrongAddress = true;
            plan.fault = "reply from another address";
        } else if (roll < 940) {
            f.silent = true;
            plan.fault = "silent";
        } else if (roll < 955) {
            f.badCrcReplies = 5 + pick(3);
            plan.fault = "bad CRC x" + std::to_string(f.badCrcReplies);
        } else if (roll < 960) {
            f.lateBy = window * 6;
            plan.lateWindows = TRANSACT_ATTEMPTS;
            plan.fault = "late after every window";
        } else if (roll < 980 && plan.op != Op::SetAddress) {
            plan.addrIndex = (state.address - 1 + 1 + pick(31)) % 32;
            plan.fault = "no controller at that address";
        } else if (roll < 990) {
            f.hangupAfter = 0;
            plan.fault = "hang-up";
        } else {
            plan.fault = "none";
        }
        const Expectation expected = Expect(plan, state);
        sim->SetStatus(plan.status);
        sim->SetFaults(f);
        {
            std::lock_guard<std::mutex> lock(report);
            currentFault = std::string(OpName(plan.op)) + ", " + plan.fault;
        }

        Outcome got = Outcome::Failure;
        std::uint8_t status = 0;
        const auto t0 = SteadyClock::now();
        startedAt = t0.time_since_epoch().count();
        running = n;
        try {
            int ok = 0;
            switch (plan.op) {
            case Op::ReadStatus: ok = ReadStatus(port, plan.addrIndex, status, tick); break;
            case Op::SetWorkMode: ok = SetWorkMode(port, plan.addrIndex, plan.mode, tick); break;
            case Op::SetAddress: ok = SetAddress(port, plan.addrIndex, tick); break;
            }
            got = ok ? Outcome::Success : Outcome::Failure;
        } catch (const CFileException&) {
            got = Outcome::FileError;
        }
        running = -1;
        const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - t0).count();

        std::string why;
        if (got != expected.outcome)
            why = std::string("expected ") + OutcomeName(expected.outcome) + ", got " + OutcomeName(got);
        else if (got == Outcome::Success && plan.op == Op::ReadStatus && status != plan.status)
            why = "status " + std::to_string(status) + ", the controller reports " + std::to_string(plan.status);
        else if (got != Outcome::FileError &&
                 (sim->Address() != expected.after.address || sim->Mode() != expected.after.mode))
            why = "controller at address " + std::to_string(sim->Address()) + " mode " + std::to_string(sim->Mode()) +
                  ", expected address " + std::to_string(expected.after.address) + " mode " +
                  std::to_string(expected.after.mode);

        {
            std::lock_guard<std::mutex> lock(report);
            ++counts.exchanges;
            if (!why.empty()) {
                ++counts.wrong;
                std::printf("pscsoak: WRONG: exchange %ld (%s, index %d): %s\n", n, currentFault.c_str(), plan.addrIndex,
                            why.c_str());
                const auto trace = sim->Trace();
                for (std::size_t i = trace.size() > 12 ? trace.size() - 12 : 0; i < trace.size(); ++i)
                    std::printf("    %s\n", trace[i].c_str());
            } else if (got == Outcome::Success) {
                ++counts.successes;
            } else {
                ++counts.expectedFailures;
                if (got == Outcome::FileError)
                    ++counts.fileErrors;
            }
            if (verbose)
                std::printf("%6ld %-12s %-32s %-10s %7.1f ms\n", n, OpName(plan.op), plan.fault.c_str(), OutcomeName(got), ms);
        }
        state = expected.after;
        if (!why.empty()) {
            // Go on from what the controller really holds.
            state.address = sim->Address();
            state.mode = sim->Mode();
        }

        if (sim->HungUp() || got == Outcome::FileError) {
            // The line went away: a new controller on a new line, in the same state.
            try {
                port.Close();
            } catch (const CFileException&) {
            }
            sim.reset();
            sim = StartController(state);
            if (port.Open() != 1) {
                std::printf("pscsoak: cannot reopen the port on %s\n", sim->SlavePath().c_str());
                ++counts.wrong;
                break;
            }
        } else if (f.lateBy > milliseconds::zero()) {
            // The controller answers one request after the other, each late: the replies
            // still on their way must be in (and purged) before the next exchange.
            std::this_thread::sleep_for(f.lateBy * expected.transmissions + milliseconds(50));
        }
    }

    done = true;
    watchdog.join();
    PrintCounts(counts, secondsSince(soakStart));
    return counts.wrong == 0 ? 0 : 1;
}
