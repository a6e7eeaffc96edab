#include "protocol/Transact.h"

#include <cstring>

namespace {

// Waits until the transmitter is empty, but never longer than the bound: when the wait
// call fails or the event does not come, the receive window starts anyway.
void WaitTransmitterEmpty(platform::SerialDevice& device, platform::TickSource& tick)
{
    const std::uint32_t start = tick.Now();
    for (;;) {
        const std::uint32_t elapsed = tick.Now() - start;
        if (elapsed >= TRANSACT_TXEMPTY_BOUND_MS)
            return;
        std::uint32_t events = 0;
        const platform::WaitResult result =
            device.WaitCommEvent(events, TRANSACT_TXEMPTY_BOUND_MS - elapsed);
        if (result != platform::WaitResult::Event)
            return;
        if (events & platform::kEventTxEmpty)
            return;
        // Only received characters: they stay queued for the receive window.
    }
}

// The bytes collected in one receive window.
class ReplyScanner {
public:
    ReplyScanner(int nAddr, std::uint8_t echo) : m_nAddr(nAddr), m_echo(echo) {}

    void Reset() { m_fill = 0; }

    // Appends what a read delivered; when it would not fit, the oldest bytes make room.
    void Append(const std::uint8_t* bytes, unsigned count)
    {
        if (count >= TRANSACT_ACCUM_SIZE) {
            bytes += count - TRANSACT_ACCUM_SIZE;
            count = TRANSACT_ACCUM_SIZE;
            m_fill = 0;
        } else if (m_fill + count > TRANSACT_ACCUM_SIZE) {
            const unsigned drop = m_fill + count - TRANSACT_ACCUM_SIZE;
            std::memmove(m_buf, m_buf + drop, m_fill - drop);
            m_fill -= drop;
        }
        std::memcpy(m_buf + m_fill, bytes, count);
        m_fill += count;
    }

    // Looks for the reply. A candidate (right address and echo) with a bad CRC stops the
    // scan and stays at the front, so it blocks every later scan of this window.
    bool Scan(CtrlFrame& reply)
    {
        unsigned p = 0;
        while (m_fill - p >= FRAME_LEN) {
            const std::uint8_t* candidate = m_buf + p;
            if (static_cast<int>(candidate[0]) == m_nAddr && candidate[1] == m_echo) {
                if (IsFrameIntact(candidate)) {
                    std::memcpy(reply.data, candidate, FRAME_LEN);
                    return true;
                }
                break;
            }
            ++p;
        }
        if (p > 0) {
            std::memmove(m_buf, m_buf + p, m_fill - p);
            m_fill -= p;
        }
        return false;
    }

private:
    const int m_nAddr;
    const std::uint8_t m_echo;
    std::uint8_t m_buf[TRANSACT_ACCUM_SIZE];
    unsigned m_fill = 0;
};

}  // namespace

int Transact(CSerialPort& port, int nAddr, CtrlFrame& frame, platform::TickSource& tick)
{
    if (!port.m_bOpen)
        return 0;

    // A late reply to an earlier command must not pass for this one's.
    port.m_file.m_hFile->PurgeReceive();

    ReplyScanner scanner(nAddr, frame.data[2]);
    for (int attempt = 0; attempt < TRANSACT_ATTEMPTS; ++attempt) {
        std::uint8_t wire[FRAME_LEN];
        BuildRequest(frame, wire);
        if (!port.Write(wire, FRAME_LEN))
            continue;
        WaitTransmitterEmpty(*port.m_file.m_hFile, tick);

        scanner.Reset();
        const std::uint32_t t0 = tick.Now();
        do {
            const int n = port.Read();
            if (n > 0) {
                scanner.Append(port.m_rxBuf, static_cast<unsigned>(n));
                if (scanner.Scan(frame))
                    return 1;
            }
        } while (tick.Now() - t0 < TRANSACT_WINDOW_MS);
    }
    return 0;
}
