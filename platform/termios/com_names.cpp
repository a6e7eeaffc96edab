#include "platform/termios/com_names.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace platform::termios_backend {

namespace {

// "ttyUSB12" -> 12 for the given prefix; -1 when the name is not prefix + digits.
long NodeNumber(const std::string& name, const std::string& prefix)
{
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::strtol(digits.c_str(), nullptr, 10);
}

std::vector<std::string> NodesWithPrefix(const std::vector<std::string>& entries, const std::string& prefix)
{
    std::vector<std::pair<long, std::string>> numbered;
    for (const std::string& entry : entries) {
        const long number = NodeNumber(entry, prefix);
        if (number >= 0)
            numbered.emplace_back(number, entry);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> nodes;
    for (const auto& item : numbered)
        nodes.push_back("/dev/" + item.second);
    return nodes;
}

}  // namespace

ComNameSources SystemComNameSources()
{
    ComNameSources sources;
    sources.getEnv = [](const std::string& name) {
        const char* value = std::getenv(name.c_str());
        return value ? std::string(value) : std::string();
    };
    sources.listDir = [](const std::string& path) {
        std::vector<std::string> names;
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), closedir);
        if (!dir)
            return names;
        while (const dirent* entry = readdir(dir.get()))
            names.emplace_back(entry->d_name);
        return names;
    };
    return sources;
}

std::string ResolveComName(const std::string& comName, const ComNameSources& sources)
{
    if (comName.size() != 4 || comName.compare(0, 3, "COM") != 0 || comName[3] < '1' || comName[3] > '8')
        return {};
    const int number = comName[3] - '0';

    const std::string mapped = sources.getEnv("PSCSETUP_" + comName);
    if (!mapped.empty())
        return mapped;

    if (number <= 4)
        return "/dev/ttyS" + std::to_string(number - 1);

    const std::vector<std::string> entries = sources.listDir("/dev");
    std::vector<std::string> adapters = NodesWithPrefix(entries, "ttyUSB");
    const std::vector<std::string> acm = NodesWithPrefix(entries, "ttyACM");
    adapters.insert(adapters.end(), acm.begin(), acm.end());
    const std::size_t slot = static_cast<std::size_t>(number - 5);
    return slot < adapters.size() ? adapters[slot] : std::string();
}

}  // namespace platform::termios_backend
