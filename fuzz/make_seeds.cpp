// Writes the seed corpus of transact_fuzzer: the exchange cases of the unit tests, in
// the fuzzer's input format (described at the top of transact_fuzzer.cpp).
//   transact_fuzz_seeds <folder>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/CtrlFrame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kNextAttempt = 0xFF;
constexpr std::uint8_t kBigChunk = 0xFE;

Bytes Frame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    std::uint8_t wire[FRAME_LEN];
    BuildRequest(CtrlFrame{{b0, b1, b2, 0, 0}}, wire);
    return Bytes(wire, wire + FRAME_LEN);
}

Bytes BadFrame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    Bytes frame = Frame(b0, b1, b2);
    frame[4] ^= 0x01;
    return frame;
}

Bytes Part(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

// Header: flags, expected address, request, parameter, then the clock program.
struct Seed {
    Bytes bytes;

    Seed(std::uint8_t flags, std::uint8_t addr, Bytes request, std::uint8_t param = 0, Bytes clockSteps = {1})
    {
        bytes = {flags, addr, request[0], request[1], request[2], param,
                 static_cast<std::uint8_t>(clockSteps.size() - 1)};
        bytes.insert(bytes.end(), clockSteps.begin(), clockSteps.end());
    }
    // Arrives about `ms` after the transmission (in steps of 4 ms).
    Seed& Chunk(unsigned ms, const Bytes& data)
    {
        bytes.push_back(static_cast<std::uint8_t>(data.size()));
        bytes.push_back(static_cast<std::uint8_t>(ms / 4));
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    Seed& Big(unsigned ms, std::uint8_t fill)
    {
        bytes.insert(bytes.end(), {kBigChunk, static_cast<std::uint8_t>(ms / 4), fill});
        return *this;
    }
    Seed& NextAttempt()
    {
        bytes.push_back(kNextAttempt);
        return *this;
    }
    Seed& EveryAttempt(unsigned ms, const Bytes& data)
    {
        for (int i = 0; i < 5; ++i) {
            if (i > 0)
                NextAttempt();
            Chunk(ms, data);
        }
        return *this;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];

    const Bytes readStatus = {0x01, CMD_READ_STATUS, READ_STATUS_DATA};
    const Bytes reply = Frame(0x01, READ_STATUS_DATA, 0x1C);
    const Bytes bad = BadFrame(0x01, READ_STATUS_DATA, 0x1C);

    std::vector<std::pair<std::string, Seed>> seeds;
    const auto add = [&](const char* name, const Seed& seed) { seeds.emplace_back(name, seed); };

    add("whole", Seed(0, 1, readStatus).Chunk(24, reply));
    for (std::size_t k = 1; k < FRAME_LEN; ++k) {
        add(("split-after-" + std::to_string(k)).c_str(),
            Seed(0, 1, readStatus).Chunk(24, Part(reply, 0, k)).Chunk(28, Part(reply, k, FRAME_LEN)));
    }
    {
        Seed s(0, 1, readStatus);
        for (std::size_t i = 0; i < FRAME_LEN; ++i)
            s.Chunk(24 + 4 * static_cast<unsigned>(i), Part(reply, i, i + 1));
        add("byte-by-byte", s);
    }
    {
        Bytes withGarbage = {0x00, 0x01, 0xFF, 0x01};
        withGarbage.insert(withGarbage.end(), reply.begin(), reply.end());
        add("garbage-same-read", Seed(0, 1, readStatus).Chunk(24, withGarbage));
    }
    add("garbage-earlier-read", Seed(0, 1, readStatus).Chunk(24, {0x55, 0x01, 0x7E, 0xFF, 0x03, 0x02}).Chunk(28, reply));
    {
        Bytes two = reply;
        const Bytes other = Frame(0x01, READ_STATUS_DATA, 0x00);
        two.insert(two.end(), other.begin(), other.end());
        add("two-intact-frames", Seed(0, 1, readStatus).Chunk(24, two));
    }
    add("wrong-address-then-ours", Seed(0, 1, readStatus).Chunk(24, Frame(0x02, READ_STATUS_DATA, 0)).Chunk(28, reply));
    add("silence", Seed(0, 1, readStatus));
    add("another-address", Seed(0, 1, readStatus).EveryAttempt(24, Frame(0x02, READ_STATUS_DATA, 0x01)));
    add("command-code-echo", Seed(0, 1, readStatus).EveryAttempt(24, Frame(0x01, CMD_READ_STATUS, 0x01)));
    add("bad-crc", Seed(0, 1, readStatus).EveryAttempt(24, bad));
    add("four-bytes", Seed(0, 1, readStatus).EveryAttempt(24, Part(reply, 0, 4)));
    add("bad-then-good-retry", Seed(0, 1, readStatus).Chunk(24, bad).Chunk(60, reply).NextAttempt().Chunk(24, reply));
    add("stale-before-request", Seed(0x40, 1, readStatus).Chunk(0, Frame(0x01, READ_STATUS_DATA, 0)));
    add("late-into-next-window", Seed(0, 1, readStatus).Chunk(700, reply));
    add("overflow", Seed(0, 1, readStatus).Chunk(24, bad).Big(28, 0x33).Big(28, 0x33).Big(32, 0x33).Chunk(40, reply));
    add("tick-wrap", Seed(0x08, 1, readStatus, 175));
    add("tick-wrap-reply", Seed(0x08, 1, readStatus, 2).Chunk(12, reply));
    add("txempty-rxchar-first", Seed(0x01, 1, readStatus).Chunk(0, reply));
    add("txempty-fails", Seed(0x02, 1, readStatus).Chunk(0, reply));
    add("txempty-never", Seed(0x03, 1, readStatus).Chunk(0, reply));
    add("read-error", Seed(0x10, 1, readStatus, 0));
    add("short-write", Seed(0x20, 1, readStatus, 3));
    add("closed-port", Seed(0x04, 1, readStatus).Chunk(24, reply));
    add("set-address", Seed(0, 7, {ADDR_SET_ADDRESS, CMD_SET_ADDRESS, 0x07}).Chunk(24, Frame(0x07, 0x07, 0x00)));
    add("set-mode", Seed(0, 32, {0x20, CMD_SET_MODE, 0x01}).Chunk(24, Frame(0x20, 0x01, 0x00)));
    add("uneven-clock", Seed(0, 1, readStatus, 0, {3, 0, 5, 250}).Chunk(24, Part(reply, 0, 2)).Chunk(300, Part(reply, 2, 5)));

    for (const auto& [name, seed] : seeds) {
        std::ofstream out(folder + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name.c_str());
            return 1;
        }
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), folder.c_str());
    return 0;
}
