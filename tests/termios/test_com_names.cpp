#include <gtest/gtest.h>

#include <map>

#include "platform/termios/com_names.h"

namespace {

using platform::termios_backend::ComNameSources;
using platform::termios_backend::ResolveComName;

ComNameSources Sources(std::map<std::string, std::string> env, std::vector<std::string> dev)
{
    ComNameSources sources;
    sources.getEnv = [env](const std::string& name) {
        const auto it = env.find(name);
        return it == env.end() ? std::string() : it->second;
    };
    sources.listDir = [dev](const std::string& path) {
        return path == "/dev" ? dev : std::vector<std::string>();
    };
    return sources;
}

TEST(ComNames, ResolvesEachNameAsTheLinuxPortMapSays)
{
    const std::vector<std::string> dev = {"ttyACM0", "ttyUSB10", "ttyS0", "ttyUSB2", "ttyUSBx", "null", "ttyACM1"};
    const ComNameSources plain = Sources({}, dev);
    const struct {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},    {"COM4", "/dev/ttyS3"},    {"COM5", "/dev/ttyUSB2"},
        {"COM6", "/dev/ttyUSB10"}, {"COM7", "/dev/ttyACM0"},  {"COM8", "/dev/ttyACM1"},
        {"COM0", ""},              {"COM9", ""},              {"COM:", ""},
        {"com1", ""},              {"COM10", ""},             {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolveComName(c.name, plain), c.path) << c.name;
}

TEST(ComNames, EnvironmentMapsAnyNameToAnyPath)
{
    const ComNameSources sources = Sources({{"PSCSETUP_COM1", "/dev/pts/7"}, {"PSCSETUP_COM8", "/tmp/link"},
                                            {"PSCSETUP_COM2", ""}},
                                           {});
    EXPECT_EQ(ResolveComName("COM1", sources), "/dev/pts/7");
    EXPECT_EQ(ResolveComName("COM8", sources), "/tmp/link");
    EXPECT_EQ(ResolveComName("COM2", sources), "/dev/ttyS1");  // empty means unset
    EXPECT_EQ(ResolveComName("COM5", sources), "");            // no adapter present
}

}  // namespace
