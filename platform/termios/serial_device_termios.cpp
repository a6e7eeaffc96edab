// Serial primitives on a POSIX terminal device.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/afx/file.h"
#include "platform/serial_device.h"
#include "platform/termios/com_names.h"

namespace platform {

namespace {

// A writer stalled this long (no room in the queue) is reported as a short write.
constexpr int kWriteStallMs = 2000;

bool BaudToSpeed(std::uint32_t baud, speed_t& speed)
{
    switch (baud) {
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    default: return false;
    }
}

std::uint32_t SpeedToBaud(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

class TermiosDevice final : public SerialDevice {
public:
    explicit TermiosDevice(int fd) : m_fd(fd) {}
    ~TermiosDevice() override { Release(); }

    OsError SetCommMask(std::uint32_t events) override
    {
        m_eventMask = events;
        return 0;
    }

    // The kernel sizes its own queues; they hold far more than one window brings.
    OsError SetupComm(std::uint32_t, std::uint32_t) override { return 0; }

    // Reads never block here whatever the time-outs: the descriptor is non-blocking and
    // each read first asks poll() what is there.
    OsError SetCommTimeouts(const CommTimeouts& timeouts) override
    {
        m_timeouts = timeouts;
        return 0;
    }

    OsError GetCommState(LineSettings& settings) override
    {
        termios tio{};
        if (tcgetattr(m_fd, &tio) != 0)
            return errno;
        settings.BaudRate = SpeedToBaud(cfgetospeed(&tio));
        switch (tio.c_cflag & CSIZE) {
        case CS5: settings.ByteSize = 5; break;
        case CS6: settings.ByteSize = 6; break;
        case CS7: settings.ByteSize = 7; break;
        default: settings.ByteSize = 8; break;
        }
        settings.Parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 1 : 2) : 0;
        settings.StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
        settings.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
        settings.fDtrControl = 0;
        return 0;
    }

    OsError SetCommState(const LineSettings& settings) override
    {
        termios tio{};
        if (tcgetattr(m_fd, &tio) != 0)
            return errno;
        speed_t speed{};
        if (!BaudToSpeed(settings.BaudRate, speed))
            return EINVAL;

        // Raw: the five bytes of a frame arrive as they were sent.
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                              IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        tio.c_cflag |= CLOCAL | CREAD;
        switch (settings.ByteSize) {
        case 5: tio.c_cflag |= CS5; break;
        case 6: tio.c_cflag |= CS6; break;
        case 7: tio.c_cflag |= CS7; break;
        case 8: tio.c_cflag |= CS8; break;
        default: return EINVAL;
        }
        if (settings.Parity == 1)
            tio.c_cflag |= PARENB | PARODD;
        else if (settings.Parity == 2)
            tio.c_cflag |= PARENB;
        else if (settings.Parity != 0)
            return EINVAL;
        if (settings.StopBits == 2)
            tio.c_cflag |= CSTOPB;
        else if (settings.StopBits != 0)
            return EINVAL;
        if (settings.fOutxCtsFlow)
            tio.c_cflag |= CRTSCTS;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0)
            return errno;
        if (tcsetattr(m_fd, TCSANOW, &tio) != 0)
            return errno;

        // Devices without modem lines (pseudo-terminals, some adapters) refuse this.
        if (settings.fDtrControl == 0) {
            int dtr = TIOCM_DTR;
            (void)ioctl(m_fd, TIOCMBIC, &dtr);
        }
        return 0;
    }

    OsError Read(void* buffer, std::size_t capacity, std::size_t& received) override
    {
        received = 0;
        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, 0);
        if (ready < 0)
            return errno == EINTR ? 0 : errno;
        if (ready == 0)
            return 0;
        if (!(pfd.revents & POLLIN))
            return (pfd.revents & POLLNVAL) ? EBADF : EIO;  // hung up, or a line error
        const ssize_t n = read(m_fd, buffer, capacity);
        if (n < 0)
            return (errno == EAGAIN || errno == EINTR) ? 0 : errno;
        if (n == 0)
            return EIO;  // end of file: the device went away
        received = static_cast<std::size_t>(n);
        return 0;
    }

    OsError Write(const void* data, std::size_t count, std::size_t& written) override
    {
        written = 0;
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (written < count) {
            const ssize_t n = write(m_fd, bytes + written, count - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return errno;
            pollfd pfd{m_fd, POLLOUT, 0};
            const int ready = poll(&pfd, 1, kWriteStallMs);
            if (ready < 0 && errno != EINTR)
                return errno;
            if (ready == 0)
                return 0;  // no room for too long: a short write
            if (ready > 0 && !(pfd.revents & POLLOUT))
                return EIO;
        }
        return 0;
    }

    WaitResult WaitCommEvent(std::uint32_t& events, std::uint32_t timeoutMs) override
    {
        events = 0;
        if (!(m_eventMask & kEventTxEmpty))
            return WaitResult::Failed;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int queued = 0;
            if (ioctl(m_fd, TIOCOUTQ, &queued) != 0)
                return WaitResult::Failed;
            if (queued == 0 && ShiftRegisterEmpty()) {
                events = kEventTxEmpty;
                return WaitResult::Event;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return WaitResult::TimedOut;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    OsError PurgeReceive() override { return tcflush(m_fd, TCIFLUSH) == 0 ? 0 : errno; }

    OsError Close() override
    {
        if (m_fd < 0)
            return 0;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    // A UART reports when its last byte has left the shift register; other devices
    // (pseudo-terminals, USB adapters) have nothing more to tell than the queue.
    bool ShiftRegisterEmpty() const
    {
#ifdef TIOCSERGETLSR
        unsigned int lsr = 0;
        if (ioctl(m_fd, TIOCSERGETLSR, &lsr) == 0)
            return (lsr & TIOCSER_TEMT) != 0;
#endif
        return true;
    }

    void Release()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int m_fd;
    std::uint32_t m_eventMask = 0;
    CommTimeouts m_timeouts;
};

}  // namespace

OpenResult OpenSerialDevice(const std::string& comName)
{
    const std::string path = termios_backend::ResolveComName(comName, termios_backend::SystemComNameSources());
    if (path.empty())
        return {nullptr, ENOENT};

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {nullptr, errno};
    auto device = std::make_unique<TermiosDevice>(fd);
    if (!isatty(fd))
        return {nullptr, ENOTTY};
    // Nobody else may share the port: advisory lock for programs that honour it, and the
    // terminal's own exclusive mode for those that do not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return {nullptr, errno == EWOULDBLOCK ? EBUSY : errno};
    if (ioctl(fd, TIOCEXCL) != 0)
        return {nullptr, errno};
    return {std::move(device), 0};
}

int FileCauseFromOsError(OsError error)
{
    switch (error) {
    case 0: return CFileException::none;
    case ENOENT:
    case ENXIO:
    case ENODEV: return CFileException::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG: return CFileException::badPath;
    case EMFILE:
    case ENFILE: return CFileException::tooManyOpenFiles;
    case EACCES:
    case EPERM: return CFileException::accessDenied;
    case EBADF: return CFileException::invalidFile;
    case EBUSY: return CFileException::sharingViolation;
    case ENOSPC: return CFileException::diskFull;
    case EIO: return CFileException::hardIO;
    default: return CFileException::genericException;
    }
}

}  // namespace platform
