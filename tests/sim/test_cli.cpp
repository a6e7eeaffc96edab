// The pscsim program, run as a person or a script would run it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

#include "sim_support.h"

extern char** environ;

namespace simtest {
namespace {

// A running pscsim with its output on pipes.
class Program {
public:
    explicit Program(const std::vector<std::string>& args)
    {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe2");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

        std::vector<std::string> all{PSCSIM_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, PSCSIM_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
        if (rc != 0)
            throw std::system_error(rc, std::generic_category(), "posix_spawn");
    }

    ~Program()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
        ::close(m_err);
    }

    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The next line of standard output, or nothing within the timeout.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = 2000ms)
    {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (const auto nl = m_buffer.find('\n'); nl != std::string::npos) {
                std::string line = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd pfd{m_out, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char chunk[512];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return std::nullopt;
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    void Signal(int signal) { kill(m_pid, signal); }

    // The exit status, or -1 when it did not end in time or ended by a signal.
    int Wait(std::chrono::milliseconds timeout = 3000ms)
    {
        const auto deadline = Clock::now() + timeout;
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline)
                return -1;
            std::this_thread::sleep_for(5ms);
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Everything left on standard output and error (after the program ended).
    std::string RestOfOutput() { return m_buffer + Drain(m_out); }
    std::string Errors() { return Drain(m_err); }

private:
    static std::string Drain(int fd)
    {
        std::string text;
        char chunk[512];
        ssize_t n = 0;
        while ((n = read(fd, chunk, sizeof chunk)) > 0)
            text.append(chunk, static_cast<std::size_t>(n));
        return text;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_buffer;
};

std::string PathFromFirstLine(Program& program)
{
    const auto first = program.ReadLine();
    const std::string prefix = "pscsim: listening on ";
    if (!first || first->rfind(prefix, 0) != 0) {
        ADD_FAILURE() << "first line: " << first.value_or("(none)");
        return {};
    }
    return first->substr(prefix.size());
}

std::string TempPath(const char* leaf)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + leaf + "." + std::to_string(getpid());
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

TEST(SimCli, ServesTracesAndCleansUpOnSigterm)
{
    const std::string link = TempPath("pscsim-link");
    Program program({"--fast", "--address", "5", "--status=0x1C", "--link", link});
    const std::string pty = PathFromFirstLine(program);
    ASSERT_EQ(pty.rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(program.ReadLine(), "pscsim: " + link + " -> " + pty);

    {
        PtyClient client(link);
        client.Send(Wire(5, 3, 2));
        EXPECT_EQ(Hex(client.Receive(5, 1000ms)), Hex(Wire(5, 2, 0x1C)));
    }
    EXPECT_EQ(program.ReadLine(), "rx " + Hex(Wire(5, 3, 2)));
    EXPECT_EQ(program.ReadLine(), "tx " + Hex(Wire(5, 2, 0x1C)));

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(Exists(link));
}

TEST(SimCli, SigintEndsItCleanly)
{
    Program program({"--fast"});
    ASSERT_FALSE(PathFromFirstLine(program).empty());
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(), 0);
}

TEST(SimCli, ReplacesAStaleLinkButNotAFile)
{
    const std::string link = TempPath("pscsim-stale");
    ASSERT_EQ(symlink("/nonexistent/left/behind", link.c_str()), 0);
    {
        Program program({"--fast", "--link", link});
        const std::string pty = PathFromFirstLine(program);
        ASSERT_EQ(program.ReadLine(), "pscsim: " + link + " -> " + pty);
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), pty);
        program.Signal(SIGTERM);
        EXPECT_EQ(program.Wait(), 0);
    }

    const std::string file = TempPath("pscsim-file");
    std::ofstream(file) << "keep me";
    Program program({"--fast", "--link", file});
    EXPECT_EQ(program.Wait(), 1);
    EXPECT_NE(program.Errors().find(file), std::string::npos);
    std::ifstream in(file);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
    unlink(file.c_str());
}

struct FlagCase {
    const char* name;
    std::vector<std::string> args;
    Bytes request;
    Bytes wire;  // everything the client receives
    bool badCrc = false;  // then only the first three bytes are as in `wire`
};

class SimCliFlags : public testing::TestWithParam<FlagCase> {};

TEST_P(SimCliFlags, ReachTheController)
{
    const FlagCase& c = GetParam();
    std::vector<std::string> args{"--fast"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Program program(args);
    PtyClient client(PathFromFirstLine(program));

    client.Send(c.request);
    const Bytes got = client.Receive(c.wire.size() + 1, 300ms);
    if (!c.badCrc) {
        EXPECT_EQ(Hex(got), Hex(c.wire));
        return;
    }
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(Hex(Bytes(got.begin(), got.begin() + 3)), Hex(Bytes(c.wire.begin(), c.wire.begin() + 3)));
    EXPECT_FALSE(Intact(got));
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimCliFlags,
    testing::Values(
        FlagCase{"mode", {"--mode", "1"}, Wire(1, 5, 2), Wire(1, 2, 1)},
        FlagCase{"status_decimal", {"--status", "20"}, Wire(1, 3, 2), Wire(1, 2, 20)},
        FlagCase{"silent", {"--silent"}, Wire(1, 3, 2), {}},
        FlagCase{"refuse", {"--refuse"}, Wire(1, 5, 1), Wire(1, 1, 1)},
        FlagCase{"bad_crc", {"--bad-crc", "1"}, Wire(1, 3, 2), Wire(1, 2, 1), true},
        FlagCase{"garbage", {"--garbage"}, Wire(1, 3, 2), Join({pscsim::kDefaultGarbage, Wire(1, 2, 1)})},
        FlagCase{"split", {"--split=1"}, Wire(1, 3, 2), Wire(1, 2, 1)},
        FlagCase{"wrong_address", {"--wrong-address"}, Wire(1, 3, 2), Wire(2, 2, 1)},
        FlagCase{"command_echo", {"--command-echo"}, Wire(1, 3, 2), Wire(1, 3, 1)},
        FlagCase{"late_beyond_the_wait", {"--late", "1000"}, Wire(1, 3, 2), {}},
        FlagCase{"hangup_after", {"--hangup-after", "0"}, Wire(1, 3, 2), {}},
        FlagCase{"timing_after_fast", {"--byte-ms", "3", "--turnaround-ms", "7"}, Wire(1, 3, 2), Wire(1, 2, 1)}),
    CaseName<FlagCase>);

struct BadArgsCase {
    const char* name;
    std::vector<std::string> args;
};

class SimCliBadArgs : public testing::TestWithParam<BadArgsCase> {};

TEST_P(SimCliBadArgs, ExitWithStatus2)
{
    Program program(GetParam().args);
    EXPECT_EQ(program.Wait(), 2);
    EXPECT_EQ(program.RestOfOutput(), "");
    EXPECT_EQ(program.Errors().rfind("pscsim: ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimCliBadArgs,
    testing::Values(BadArgsCase{"address_zero", {"--address", "0"}}, BadArgsCase{"address_33", {"--address", "33"}},
                    BadArgsCase{"address_word", {"--address", "one"}},
                    BadArgsCase{"address_trailing", {"--address", "5x"}},
                    BadArgsCase{"address_blank", {"--address", " 5"}},
                    BadArgsCase{"address_missing", {"--address"}}, BadArgsCase{"mode_2", {"--mode=2"}},
                    BadArgsCase{"status_too_big", {"--status", "0x100"}},
                    BadArgsCase{"status_bad_hex", {"--status", "0xZZ"}},
                    BadArgsCase{"byte_ms_negative", {"--byte-ms", "-1"}},
                    BadArgsCase{"byte_ms_nan", {"--byte-ms", "nan"}},
                    BadArgsCase{"turnaround_fraction", {"--turnaround-ms", "2.5"}},
                    BadArgsCase{"bad_crc_negative", {"--bad-crc", "-2"}},
                    BadArgsCase{"split_missing", {"--split"}}, BadArgsCase{"late_word", {"--late", "soon"}},
                    BadArgsCase{"hangup_huge", {"--hangup-after", "99999999999999999999"}},
                    BadArgsCase{"flag_with_value", {"--fast=1"}}, BadArgsCase{"link_empty", {"--link="}},
                    BadArgsCase{"unknown_option", {"--baud", "9600"}}, BadArgsCase{"positional", {"COM1"}}),
    CaseName<BadArgsCase>);

TEST(SimCli, HelpDocumentsEveryOption)
{
    Program program({"--help"});
    EXPECT_EQ(program.Wait(), 0);
    const std::string help = program.RestOfOutput();
    EXPECT_EQ(help.rfind("usage: pscsim", 0), 0u);
    for (const char* option :
         {"--address", "--mode", "--status", "--byte-ms", "--turnaround-ms", "--fast", "--silent", "--refuse",
          "--bad-crc", "--garbage", "--split", "--wrong-address", "--command-echo", "--late", "--hangup-after",
          "--link", "--help"})
        EXPECT_TRUE(help.find(std::string("\n    ") + option + " ") != std::string::npos ||
                    help.find(std::string("\n    -h, ") + option + " ") != std::string::npos)
            << option;
}

}  // namespace
}  // namespace simtest
