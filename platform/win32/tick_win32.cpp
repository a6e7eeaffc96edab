#include "platform/tick.h"
#include "platform/win32/win32_api.h"

namespace platform {

namespace {

class Win32Tick final : public TickSource {
public:
    std::uint32_t Now() override { return static_cast<std::uint32_t>(::GetTickCount()); }
};

}  // namespace

TickSource& SystemTick()
{
    static Win32Tick tick;
    return tick;
}

}  // namespace platform
