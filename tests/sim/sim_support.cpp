#include "sim_support.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "protocol/CtrlFrame.h"

namespace simtest {

Bytes Wire(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    std::uint8_t wire[FRAME_LEN];
    BuildRequest(CtrlFrame{{b0, b1, b2, 0, 0}}, wire);
    return Bytes(wire, wire + FRAME_LEN);
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

bool Intact(const Bytes& frame) { return frame.size() == FRAME_LEN && IsFrameIntact(frame.data()); }

std::string Hex(const Bytes& bytes)
{
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += cell;
    }
    return text;
}

PtyClient::PtyClient(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        throw std::system_error(errno, std::generic_category(), "open " + path);
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0) {
        ::close(m_fd);
        throw std::system_error(errno, std::generic_category(), "tcgetattr");
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B2400);
    cfsetospeed(&tio, B2400);
    tcsetattr(m_fd, TCSANOW, &tio);
}

PtyClient::~PtyClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Clock::time_point PtyClient::Send(const Bytes& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            throw std::system_error(errno, std::generic_category(), "write");
    }
    return Clock::now();
}

std::vector<Arrival> PtyClient::ReceiveTimed(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<Arrival> got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0)
            break;
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count()) + 1) <= 0)
            continue;
        std::uint8_t chunk[64];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        const auto at = Clock::now();
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            break;  // hung up
        }
        for (ssize_t i = 0; i < n; ++i)
            got.push_back({chunk[i], at});
    }
    return got;
}

Bytes PtyClient::Receive(std::size_t count, std::chrono::milliseconds timeout)
{
    Bytes bytes;
    for (const auto& arrival : ReceiveTimed(count, timeout))
        bytes.push_back(arrival.value);
    return bytes;
}

Rig::Rig(const pscsim::Timing& timing) : client(sim.SlavePath())
{
    sim.SetTiming(timing);
    sim.Start();
}

Bytes Rig::Ask(const Bytes& request, std::size_t count, std::chrono::milliseconds timeout)
{
    client.Send(request);
    return client.Receive(count, timeout);
}

}  // namespace simtest
