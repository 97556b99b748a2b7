// The error rule as a user meets it: one line naming where and what, and a script stops there.
#include "tools/serial-lab/session.h"

#include <gtest/gtest.h>

#include "tools/serial-lab/console.h"
#include "tools/serial-lab/lab.h"

namespace lab {
namespace {

class SessionTest : public ::testing::Test {
protected:
    CapturedConsole captured;
    Lab lab{captured.console};
    Session session{lab};
};

TEST_F(SessionTest, ScriptStopsAtTheFirstBadLineAndNamesIt) {
    const int status = session.run_script("echo one\n# comment\n\nfrobnicate 1\necho never\n", "demo.lab");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(captured.output, "one\n");
    EXPECT_EQ(captured.errors, "demo.lab:4: frobnicate: unknown command (type 'help' for the list)\n");
}

TEST_F(SessionTest, CommandStringNumbersItsStatements) {
    EXPECT_EQ(session.run_command_string("echo a; echo b; help nothing; echo c"), 1);
    EXPECT_EQ(captured.output, "a\nb\n");
    EXPECT_EQ(captured.errors, "-c:3: help: no command 'nothing'\n");
}

TEST_F(SessionTest, QuotingErrorsAreReportedWithoutACommandName) {
    EXPECT_EQ(session.run_script("echo \"open\n", "x.lab"), 1);
    EXPECT_EQ(captured.errors, "x.lab:1: unterminated double quote\n");
}

TEST_F(SessionTest, PromptLinesCarryNoLocationAndTheSessionGoesOn) {
    EXPECT_FALSE(session.run_line("frobnicate", Location{}));
    EXPECT_TRUE(session.run_line("echo still here", Location{}));
    EXPECT_EQ(captured.errors, "frobnicate: unknown command (type 'help' for the list)\n");
    EXPECT_EQ(captured.output, "still here\n");
}

TEST_F(SessionTest, QuitEndsAScript) {
    EXPECT_EQ(session.run_script("echo a\nquit\necho b\n", "q.lab"), 0);
    EXPECT_EQ(captured.output, "a\n");
}

TEST(ErrorLine, KernelRefusalsCarryTheNumberAndItsText) {
    EXPECT_EQ(format_error_line(Location{"demo.lab", 12}, "insmod",
                                kernel_refused("unknown parameter 'foo'", -22)),
              "demo.lab:12: insmod: unknown parameter 'foo' (-22 Invalid argument)");
    EXPECT_EQ(format_error_line(Location{}, "open", kernel_refused("ttyS3", -19)),
              "open: ttyS3 (-19 No such device)");
}

TEST_F(SessionTest, EveryCommandHasASynopsisSummaryAndExample) {
    for (const auto* command : lab.commands().all()) {
        EXPECT_FALSE(command->synopsis.empty()) << command->name;
        EXPECT_FALSE(command->summary.empty()) << command->name;
        EXPECT_FALSE(command->example.empty()) << command->name;
        EXPECT_EQ(command->synopsis.rfind(command->name, 0), 0u) << command->name;
        captured.output.clear();
        ASSERT_TRUE(session.run_line("help " + command->name, Location{}));
        EXPECT_NE(captured.output.find("example:"), std::string::npos) << command->name;
    }
}

}  // namespace
}  // namespace lab
