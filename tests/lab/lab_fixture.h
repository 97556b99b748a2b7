// A lab in the test process with its output captured, and a snapshot of everything a user can
// see of its machine, to prove that a refused line changed nothing.
#pragma once

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "tools/serial-lab/console.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/session.h"

namespace lab::testing {

class LabTest : public ::testing::Test {
protected:
    // Runs lines that must succeed; the test fails with the error otherwise.
    void run(std::string_view text) {
        const auto errors_before = captured.errors.size();
        ASSERT_EQ(session.run_script(text, "setup"), 0) << captured.errors.substr(errors_before);
    }
    // Runs lines and returns what they printed.
    std::string output_of(std::string_view text) {
        captured.output.clear();
        run(text);
        return captured.output;
    }
    // Runs one line that must be refused; returns its error line without the newline.
    std::string refusal_of(std::string_view line, std::string_view source = "bad.lab") {
        captured.errors.clear();
        EXPECT_EQ(session.run_script(line, source), 1) << line;
        std::string errors = captured.errors;
        if (!errors.empty() && errors.back() == '\n') errors.pop_back();
        return errors;
    }
    // What a user can look at: hardware, board devices, modules and their parameters, the
    // kernel's resource and interrupt files, the ports, and the settings of open ports.
    std::string snapshot() {
        std::string text;
        const auto saved_output = captured.output;
        const auto saved_errors = captured.errors;
        captured.output.clear();
        session.run_script("hardware\nlsmod\nplatform list\ncat /proc/ioports /proc/iomem /proc/interrupts\ntime\n",
                           "snapshot");
        auto& files = lab.machine().kernel().files();
        for (const auto& path : files.list("/")) {
            if (path.starts_with("/sys/") || path.starts_with("/proc/tty/")) {
                text += path + ": " + files.read(path).content;
            }
        }
        for (const auto& [line, file] : lab.machine().open_files()) {
            session.run_line("stty -a -F ttyS" + std::to_string(line), Location{"snapshot", 0});
            session.run_line("setserial -a ttyS" + std::to_string(line), Location{"snapshot", 0});
        }
        text += captured.output;
        captured.output = saved_output;
        captured.errors = saved_errors;
        return text;
    }

    CapturedConsole captured;
    Lab lab{captured.console};
    Session session{lab};
};

}  // namespace lab::testing
