#include <time.h>

#include "platform/tick.h"

namespace platform {

namespace {

class MonotonicTick final : public TickSource {
public:
    std::uint32_t Now() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const auto ms = static_cast<unsigned long long>(ts.tv_sec) * 1000ULL +
                        static_cast<unsigned long long>(ts.tv_nsec) / 1000000ULL;
        return static_cast<std::uint32_t>(ms);  // wraps like the Windows tick counter
    }
};

}  // namespace

TickSource& SystemTick()
{
    static MonotonicTick tick;
    return tick;
}

}  // namespace platform
