// Read-status round trips against the simulated controller at 2400 baud line timing,
// through the real termios backend: how close the program comes to the line's limit.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/Commands.h"
#include "serial/SerialPort.h"
#include "sim/simulator.h"

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const std::size_t at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

}  // namespace

int main(int argc, char** argv)
{
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 200;
    const bool withSilence = !(argc > 2 && std::string(argv[2]) == "--no-silence");
    if (exchanges < 1) {
        std::fprintf(stderr, "usage: %s [exchanges] [--no-silence]\n", argv[0]);
        return 2;
    }

    pscsim::Simulator sim;
    setenv("PSCSETUP_COM1", sim.SlavePath().c_str(), 1);
    sim.Start();

    CSerialPort port;
    port.m_dcb.BaudRate = 2400;
    port.m_nPortNo = 1;
    if (!port.Open()) {
        std::fprintf(stderr, "cannot open the simulator's port %s\n", sim.SlavePath().c_str());
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    std::vector<double> trips;
    trips.reserve(static_cast<std::size_t>(exchanges));
    int failures = 0;
    const double cpuStart = CpuSeconds();
    for (int i = 0; i < exchanges; ++i) {
        std::uint8_t status = 0;
        const auto start = Clock::now();
        const int ok = ReadStatus(port, 0, status);
        trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        failures += !ok;
    }
    const double cpuPerExchange = (CpuSeconds() - cpuStart) / exchanges * 1000.0;

    const pscsim::Timing timing = sim.LineTiming();
    const double lineMinimum =
        std::chrono::duration<double, std::milli>(timing.byteTime * 10 + timing.turnaround).count();
    const double median = Percentile(trips, 0.50);
    const double p95 = Percentile(trips, 0.95);
    std::printf("read-status round trip, %d exchanges, %d failed\n", exchanges, failures);
    std::printf("  line minimum   %8.2f ms (two five-byte frames at 2400 8N1 + %.1f ms turnaround)\n", lineMinimum,
                std::chrono::duration<double, std::milli>(timing.turnaround).count());
    std::printf("  median         %8.2f ms  = %.3f x minimum (goal <= 1.02)\n", median, median / lineMinimum);
    std::printf("  95th percentile%8.2f ms  = %.3f x minimum (goal <= 1.05)\n", p95, p95 / lineMinimum);
    std::printf("  CPU time       %8.2f ms per exchange (the receive poll spins by design)\n", cpuPerExchange);

    if (withSilence) {
        pscsim::Faults faults;
        faults.silent = true;
        sim.SetFaults(faults);
        const int before = sim.RequestCount();
        std::uint8_t status = 0;
        const auto start = Clock::now();
        const int ok = ReadStatus(port, 0, status);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        sim.WaitForRequests(before + 5, std::chrono::milliseconds(500));
        std::printf("no answer: %s after %.3f s, %d transmissions (goal 2.50 to 2.60 s, 5)\n",
                    ok ? "success?!" : "failure", seconds, sim.RequestCount() - before);
    }
    return failures ? 1 : 0;
}
