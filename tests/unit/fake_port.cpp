#include "tests/unit/fake_port.h"

#include <algorithm>
#include <cstring>

#include "protocol/CtrlFrame.h"

namespace fake {

platform::OsError Device::SetCommMask(std::uint32_t events)
{
    m_log->mask = events;
    return Step("SetCommMask");
}

platform::OsError Device::SetupComm(std::uint32_t rxQueue, std::uint32_t txQueue)
{
    m_log->rxQueue = rxQueue;
    m_log->txQueue = txQueue;
    return Step("SetupComm");
}

platform::OsError Device::SetCommTimeouts(const platform::CommTimeouts& timeouts)
{
    m_log->timeouts = timeouts;
    return Step("SetCommTimeouts");
}

platform::OsError Device::GetCommState(platform::LineSettings& settings)
{
    // The driver's current settings, all different from what the port asks for.
    settings.BaudRate = 9600;
    settings.ByteSize = 7;
    settings.Parity = 2;
    settings.StopBits = 2;
    settings.fOutxCtsFlow = true;
    settings.fDtrControl = 1;
    return Step("GetCommState");
}

platform::OsError Device::SetCommState(const platform::LineSettings& settings)
{
    m_log->applied = settings;
    return Step("SetCommState");
}

platform::OsError Device::Read(void* buffer, std::size_t capacity, std::size_t& received)
{
    received = 0;
    if (readError)
        return readError;
    if (m_rx.empty() || !Due(m_rx.front().at))
        return 0;
    Chunk& chunk = m_rx.front();
    if (chunk.bytes.empty()) {  // nothing to deliver after all
        m_rx.pop_front();
        return 0;
    }
    received = std::min(capacity, chunk.bytes.size());
    std::memcpy(buffer, chunk.bytes.data(), received);
    chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + static_cast<std::ptrdiff_t>(received));
    if (chunk.bytes.empty())
        m_rx.pop_front();
    m_log->readTimes.push_back(m_clock.now);
    return 0;
}

platform::OsError Device::Write(const void* data, std::size_t count, std::size_t& written)
{
    written = 0;
    if (writeError)
        return writeError;
    written = std::min(count, writeLimit);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_log->writes.push_back({m_clock.now, Bytes(bytes, bytes + written)});
    if (onWrite)
        onWrite(*this, static_cast<int>(m_log->writes.size()) - 1, m_log->writes.back().bytes);
    return 0;
}

platform::WaitResult Device::WaitCommEvent(std::uint32_t& events, std::uint32_t timeoutMs)
{
    ++m_waitCalls;
    events = 0;
    switch (txEmpty) {
    case TxEmptyBehaviour::Immediate:
        events = platform::kEventTxEmpty;
        return platform::WaitResult::Event;
    case TxEmptyBehaviour::RxCharFirst:
        // Two returns with received characters only, then the transmitter is empty.
        events = (m_waitCalls % 3 == 0) ? platform::kEventTxEmpty : platform::kEventRxChar;
        return platform::WaitResult::Event;
    case TxEmptyBehaviour::Fails:
        return platform::WaitResult::Failed;
    case TxEmptyBehaviour::Never:
        m_clock.now += timeoutMs;
        return platform::WaitResult::TimedOut;
    }
    return platform::WaitResult::Failed;
}

platform::OsError Device::PurgeReceive()
{
    ++m_log->purges;
    while (!m_rx.empty() && Due(m_rx.front().at))
        m_rx.pop_front();
    return 0;
}

platform::OsError Device::Close()
{
    ++m_log->closes;
    return closeError;
}

platform::SerialOpener Opener::Get()
{
    return [this](const std::string& name) {
        names.push_back(name);
        platform::OpenResult result;
        if (openError || !device)
            result.error = openError ? openError : 2;
        else
            result.device = std::move(device);
        return result;
    };
}

Bytes Frame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    const CtrlFrame frame{{b0, b1, b2, 0, 0}};
    Bytes wire(FRAME_LEN);
    BuildRequest(frame, wire.data());
    return wire;
}

Bytes BadFrame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    Bytes wire = Frame(b0, b1, b2);
    wire[4] ^= 0x01;
    return wire;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace fake
