// How a COM name finds its device node on Linux.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform::termios_backend {

struct ComNameSources {
    // Value of an environment variable, or empty when it is unset or empty.
    std::function<std::string(const std::string&)> getEnv;
    // Names of the entries of a directory.
    std::function<std::vector<std::string>(const std::string&)> listDir;
};

ComNameSources SystemComNameSources();

// "COMn" (n = 1 to 8): PSCSETUP_COMn when set, else COM1 to COM4 are /dev/ttyS0 to
// /dev/ttyS3 and COM5 to COM8 the USB serial adapters present (ttyUSB* then ttyACM*,
// in number order). Empty when the name stands for no device.
std::string ResolveComName(const std::string& comName, const ComNameSources& sources);

}  // namespace platform::termios_backend
