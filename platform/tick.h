// The millisecond tick counter that times receive windows. It wraps after 2^32 ms;
// callers compare unsigned differences.
#pragma once

#include <cstdint>

namespace platform {

class TickSource {
public:
    virtual ~TickSource() = default;
    virtual std::uint32_t Now() = 0;
};

// The operating system's millisecond counter.
TickSource& SystemTick();

}  // namespace platform
