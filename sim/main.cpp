// pscsim: runs the simulated controller until SIGINT or SIGTERM, tracing the wire on
// standard output.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace {

constexpr const char* kUsage = R"(usage: pscsim [options]

A simulated power switch controller on a pseudo-terminal. The first line of output
names the terminal, for example
    pscsim: listening on /dev/pts/5
and the program under test opens that path as its serial port (on Linux the
dialog finds it through PSCSETUP_COM1=/dev/pts/5). Every frame crossing the line
follows, in hexadecimal:
    rx 01 03 02 A1 31        a request received (any five bytes with an intact CRC)
    rx skipped 55 AA         bytes dropped while looking for a frame
    tx 01 02 01 61 F0        a reply, exactly as sent
    tx garbage FF 00 AA 55   bytes sent ahead of a reply
    -- ...                   why nothing was answered, which fault shaped a reply
It runs until SIGINT (Ctrl+C) or SIGTERM.

The controller answers:
    read status  (addr, 03, 02)       -> addr, 02, status
    set address  (F0, 04, 1..32)      -> new, new, 0    and takes the new address
    set mode     (addr, 05, 0 or 1)   -> addr, mode, 0  and takes the mode
    set mode     (addr, 05, other)    -> addr, data, 1
Anything else, or a frame for another address, gets no answer.

Controller state:
    --address N          address, 1 to 32 (default 1)
    --mode N             working mode, 0 or 1 (default 0)
    --status 0xNN        status byte of read status, hex with 0x or decimal (default 0x01)

Line timing (default: a 2400 baud 8N1 line):
    --byte-ms X          time one byte takes on the wire, both ways (default 4.1667)
    --turnaround-ms N    from the end of a request to the reply (default 5)
    --fast               no line delays: same as --byte-ms 0 --turnaround-ms 0

Faults (any combination):
    --silent             take requests in but neither act on them nor answer
    --refuse             refuse set address and set mode: result byte 1, nothing
                         changes (read status still answers)
    --bad-crc N          corrupt the CRC of the first N replies
    --garbage            send FF 00 AA 55 ahead of every reply
    --split GAP_MS       send replies in 2-byte pieces, GAP_MS apart
    --wrong-address      reply from the next address up (32 wraps to 1)
    --command-echo       put the command code in place of the echo byte
    --late MS            hold every reply back MS more (the client waits 500)
    --hangup-after N     serve N requests, hang up on the next one (0: the first)

Other:
    --link PATH          make PATH a symbolic link to the terminal while running
                         (an existing symbolic link there is replaced)
    -h, --help           show this text

Options take their value as the next argument or after '=' (--address=5).
Exit status: 0 after a signal, 1 when the system refuses, 2 for bad arguments.
)";

struct Options {
    int address = 1;
    int mode = 0;
    std::uint8_t status = 0x01;
    pscsim::Timing timing;
    pscsim::Faults faults;
    std::string link;
    bool help = false;
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

long long ParseInteger(const std::string& option, const std::string& text, long long min, long long max,
                       bool allowHex = false)
{
    const bool hex = allowHex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = text.substr(hex ? 2 : 0);
    // Digits only: strtoll alone would also take blanks and signs.
    bool valid = !digits.empty();
    for (const char c : digits)
        valid = valid && (hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c)));
    errno = 0;
    const long long value = valid ? std::strtoll(digits.c_str(), nullptr, hex ? 16 : 10) : 0;
    if (!valid || errno == ERANGE || value < min || value > max) {
        throw UsageError(option + " takes " + (allowHex ? "a number (0xNN or decimal)" : "a whole number") +
                         " from " + std::to_string(min) + " to " + std::to_string(max) + ", not '" + text + "'");
    }
    return value;
}

double ParseMilliseconds(const std::string& option, const std::string& text, double max)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || *end != '\0' || errno == ERANGE ||
        !std::isfinite(value) || value < 0 || value > max) {
        throw UsageError(option + " takes milliseconds from 0 to " + std::to_string(static_cast<int>(max)) +
                         ", not '" + text + "'");
    }
    return value;
}

std::chrono::milliseconds Ms(long long value) { return std::chrono::milliseconds(value); }

Options ParseOptions(const std::vector<std::string>& args)
{
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            if (const auto eq = name.find('='); eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.erase(eq);
            }
        }
        bool usedValue = false;
        const auto value = [&]() -> std::string {
            usedValue = true;
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= args.size())
                throw UsageError(name + " needs a value");
            return args[++i];
        };
        constexpr long long kMaxMs = 3'600'000;  // an hour: anything longer is a typo

        if (name == "-h" || name == "--help")
            options.help = true;
        else if (name == "--address")
            options.address = static_cast<int>(ParseInteger(name, value(), 1, 32));
        else if (name == "--mode")
            options.mode = static_cast<int>(ParseInteger(name, value(), 0, 1));
        else if (name == "--status")
            options.status = static_cast<std::uint8_t>(ParseInteger(name, value(), 0, 255, true));
        else if (name == "--byte-ms") {
            const double ms = ParseMilliseconds(name, value(), 1000);
            options.timing.byteTime = std::chrono::nanoseconds(std::llround(ms * 1e6));
        } else if (name == "--turnaround-ms")
            options.timing.turnaround = Ms(ParseInteger(name, value(), 0, kMaxMs));
        else if (name == "--fast")
            options.timing = pscsim::Timing::Fast();
        else if (name == "--silent")
            options.faults.silent = true;
        else if (name == "--refuse")
            options.faults.refuse = true;
        else if (name == "--bad-crc")
            options.faults.badCrcReplies = static_cast<int>(ParseInteger(name, value(), 0, INT_MAX));
        else if (name == "--garbage")
            options.faults.garbage = pscsim::kDefaultGarbage;
        else if (name == "--split")
            options.faults.splitGap = Ms(ParseInteger(name, value(), 0, kMaxMs));
        else if (name == "--wrong-address")
            options.faults.wrongAddress = true;
        else if (name == "--command-echo")
            options.faults.commandEcho = true;
        else if (name == "--late")
            options.faults.lateBy = Ms(ParseInteger(name, value(), 0, kMaxMs));
        else if (name == "--hangup-after")
            options.faults.hangupAfter = static_cast<int>(ParseInteger(name, value(), 0, INT_MAX));
        else if (name == "--link") {
            options.link = value();
            if (options.link.empty())
                throw UsageError("--link needs a path");
        } else if (name.rfind("-", 0) == 0)
            throw UsageError("unknown option '" + name + "'");
        else
            throw UsageError("unexpected argument '" + name + "'");

        if (inlineValue && !usedValue)
            throw UsageError(name + " takes no value");
    }
    return options;
}

// A symbolic link to the terminal for as long as the program runs.
class Link {
public:
    Link(std::string path, const std::string& target) : m_path(std::move(path))
    {
        struct stat st {};
        if (lstat(m_path.c_str(), &st) == 0) {
            // Most likely left behind by a run that was killed; anything else is not ours.
            if (!S_ISLNK(st.st_mode))
                throw std::runtime_error(m_path + " exists and is not a symbolic link");
            if (unlink(m_path.c_str()) != 0)
                throw std::runtime_error("cannot replace " + m_path + ": " + std::strerror(errno));
        }
        if (symlink(target.c_str(), m_path.c_str()) != 0)
            throw std::runtime_error("cannot create " + m_path + ": " + std::strerror(errno));
    }
    ~Link() { unlink(m_path.c_str()); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

private:
    std::string m_path;
};

void PrintLine(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    // Whoever reads a pipe wants each line as it happens.
    std::fflush(stdout);
}

int Run(const Options& options)
{
    // Blocked before any thread exists, so that only sigwait below ever sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    pscsim::Simulator sim;
    sim.SetAddress(options.address);
    sim.SetMode(options.mode);
    sim.SetStatus(options.status);
    sim.SetTiming(options.timing);
    sim.SetFaults(options.faults);
    sim.SetTraceSink(PrintLine);

    PrintLine("pscsim: listening on " + sim.SlavePath());
    std::optional<Link> link;
    if (!options.link.empty()) {
        link.emplace(options.link, sim.SlavePath());
        PrintLine("pscsim: " + options.link + " -> " + sim.SlavePath());
    }

    sim.Start();
    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    sim.Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "pscsim: %s (see pscsim --help)\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return Run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pscsim: %s\n", error.what());
        return 1;
    }
}
