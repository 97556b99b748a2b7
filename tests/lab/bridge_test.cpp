// The bridge with programs no one here wrote: pyserial (Debian's python3-serial, for
// /usr/bin/python3) at both ends of a null-modem pair, and the system's stty on a pty.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

// serial-lab bridge as a child process whose output is read as it comes.
class BridgeProcess {
public:
    explicit BridgeProcess(const std::vector<std::string>& arguments) {
        int pipe_ends[2];
        if (pipe(pipe_ends) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(pipe_ends[1], STDOUT_FILENO);
            dup2(pipe_ends[1], STDERR_FILENO);
            close(pipe_ends[0]);
            std::vector<char*> argv;
            static std::string program = SERIAL_LAB_PATH;
            argv.push_back(program.data());
            for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(pipe_ends[1]);
        output_fd_ = pipe_ends[0];
    }
    ~BridgeProcess() {
        stop();
        if (output_fd_ >= 0) close(output_fd_);
    }

    // Reads output until a line starts with `prefix` or `limit` passes; the rest of that line.
    // (Plain text search: std::regex trips GCC 12's uninitialised-use warning under ASan.)
    std::string wait_for(const std::string& prefix, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            std::size_t at = 0;
            while ((at = output_.find(prefix, at)) != std::string::npos) {
                const bool line_start = at == 0 || output_[at - 1] == '\n';
                const auto end = output_.find('\n', at);
                if (line_start && end != std::string::npos) return output_.substr(at + prefix.size(), end - at - prefix.size());
                at += prefix.size();
            }
            read_some(20);
        }
        return {};
    }
    // Stops the bridge (SIGTERM, then SIGKILL after a grace period) and returns all it printed.
    std::string stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            int status = 0;
            while (waitpid(pid_, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    kill(pid_, SIGKILL);
                    waitpid(pid_, &status, 0);
                    break;
                }
                read_some(20);
            }
            pid_ = -1;
            while (read_some(0)) {
            }
        }
        return output_;
    }
    const std::string& output() const { return output_; }

private:
    bool read_some(int timeout_ms) {
        pollfd descriptor{output_fd_, POLLIN, 0};
        if (poll(&descriptor, 1, timeout_ms) <= 0) return false;
        std::array<char, 4096> buffer{};
        const ssize_t got = read(output_fd_, buffer.data(), buffer.size());
        if (got <= 0) return false;
        output_.append(buffer.data(), static_cast<std::size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int output_fd_ = -1;
    std::string output_;
};

std::string run_with_output(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen(("( " + command + " ) 2>&1").c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), got);
    const int wait_status = pclose(pipe);
    status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    return output;
}

TEST(Bridge, PyserialTalksAcrossANullModemPairAt9600SevenE1) {
    int status = -1;
    run_with_output("/usr/bin/python3 -c 'import serial'", status);
    ASSERT_EQ(status, 0) << "pyserial is missing: install Debian's python3-serial";

    // Hosts whose ptys drop data bits and parity keep the ports' own, so the ports start at 7E1
    // too; the rate comes from pyserial through the pty either way.
    BridgeProcess bridge({"bridge", "ttyS0", "ttyS1", "-c",
                          "cable com1 com2; insmod 8250; open ttyS0; open ttyS1; "
                          "stty -F ttyS0 cs7 parenb; stty -F ttyS1 cs7 parenb",
                          "--for", "60"});
    const std::string first = bridge.wait_for("ttyS0 is ", 10s);
    const std::string second = bridge.wait_for("ttyS1 is ", 10s);
    ASSERT_FALSE(first.empty() || second.empty()) << bridge.output();

    const std::string script = std::string(LAB_TEST_SOURCE_DIR) + "/pyserial_pair.py";
    const std::string exchanged =
        run_with_output("timeout 30 /usr/bin/python3 " + script + " " + first + " " + second, status);
    EXPECT_EQ(status, 0) << exchanged << bridge.output();
    EXPECT_THAT(exchanged, HasSubstr("exchanged"));

    // The system's stty on the pty changes the simulated port.
    const std::string set = run_with_output("stty -F " + first + " 19200 cs8 -parenb", status);
    EXPECT_EQ(status, 0) << set;
    // 8N1 where the host's ptys carry framing, the port's own 7E1 where they do not.
    const std::string changed = bridge.wait_for("ttyS0: settings from the pty: 19200 bit/s ", 5s);
    EXPECT_TRUE(changed.starts_with("8N1") || changed.starts_with("7E1")) << bridge.output();
    EXPECT_THAT(run_with_output("stty -F " + first, status), HasSubstr("speed 19200 baud"));

    const std::string all = bridge.stop();
    EXPECT_THAT(all, HasSubstr("ttyS0: settings from the pty: 9600 bit/s 7E1 -crtscts"));
    EXPECT_THAT(all, HasSubstr("ttyS1: settings from the pty: 9600 bit/s 7E1 -crtscts"));
    EXPECT_THAT(all, HasSubstr("ttyS0: 19 bytes from the pty"));
    EXPECT_THAT(all, HasSubstr("ttyS1: 5 bytes from the pty, 19 bytes to it"));
}

TEST(Bridge, RefusesAnUnknownDevice) {
    int status = -1;
    const std::string output = run_with_output(std::string(SERIAL_LAB_PATH) + " bridge ttyS99 --for 1", status);
    EXPECT_EQ(status, 2);
    EXPECT_THAT(output, HasSubstr("unknown device 'ttyS99'"));
}

}  // namespace
