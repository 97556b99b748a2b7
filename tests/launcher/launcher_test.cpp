// The launcher is tested as it ships: the binary the build installs, started with a tmpfs over
// /opt in a private mount namespace, where each test lays out the script it needs.

#include "elf_dynamic.h"
#include "private_opt.h"

#include <elf.h>
#include <signal.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace launcher_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

constexpr char launcher_path[] = XENTOP_LAUNCHER_PATH;
constexpr char probe_path[] = LAUNCHER_ARGV_PROBE_PATH;

std::string file_contents(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

// The lines of the probe's report that start with `prefix`, with the prefix taken off.
std::vector<std::string> probe_lines(const std::string& report, const std::string& prefix)
{
    std::vector<std::string> result;
    for (const std::string& line : lines(report)) {
        if (line.rfind(prefix, 0) == 0) {
            result.push_back(line.substr(prefix.size()));
        }
    }
    return result;
}

ScriptLayout shell_script(const std::string& body, mode_t mode = 0755)
{
    return {ScriptKind::file, "#!/bin/sh\n" + body, mode};
}

ScriptLayout probe_program()
{
    return {ScriptKind::file, file_contents(probe_path), 0755};
}

std::string failure_line(int error)
{
    return std::string("xentop-launcher: /opt/corvane2/scripts/xentop.py: ") +
           std::strerror(error) + "\n";
}

class LauncherTest : public ::testing::Test {
protected:
    // Any failure to build the sandbox fails the test with the reason: a launcher test that could
    // not run has not shown anything.
    void launch(const ScriptLayout& layout, const std::vector<std::string>& arguments = {},
                const std::vector<std::string>& environment = {"PATH=/usr/bin:/bin"})
    {
        result_ = run_with_private_opt(launcher_path, layout, arguments, environment);
        ASSERT_THAT(result_.setup_error, IsEmpty()) << "the launcher was not started";
    }

    RunResult result_;
};

// ---------------------------------------------------------------------------------------------
// Arguments given to the launcher never reach the script.

class LauncherArgumentsTest : public LauncherTest,
                              public ::testing::WithParamInterface<std::vector<std::string>> {};

// A "#!" script would see the same whether the launcher passed a vector holding only the path or
// no vector at all, because the kernel puts the script's path in front of the interpreter's
// arguments either way; a real program at the script's path sees exactly what execv was given.
TEST_P(LauncherArgumentsTest, ProgramAtScriptPathGetsOnlyItsPath)
{
    ASSERT_NO_FATAL_FAILURE(launch(probe_program(), GetParam()));
    EXPECT_TRUE(result_.exited);
    EXPECT_EQ(result_.exit_status, 0);
    EXPECT_THAT(probe_lines(result_.standard_output, "argc="), ElementsAre("1"));
    EXPECT_THAT(probe_lines(result_.standard_output, "argv["),
                ElementsAre(std::string("0]=") + script_path));
    EXPECT_THAT(result_.standard_error, IsEmpty());
}

TEST_P(LauncherArgumentsTest, ShellScriptSeesNoArguments)
{
    ASSERT_NO_FATAL_FAILURE(
        launch(shell_script("printf '%s|%s|%s\\n' \"$0\" \"$#\" \"$*\"\n"), GetParam()));
    EXPECT_EQ(result_.exit_status, 0);
    EXPECT_EQ(result_.standard_output, std::string(script_path) + "|0|\n");
    EXPECT_THAT(result_.standard_error, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    ArgumentLists, LauncherArgumentsTest,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--help"},
                      std::vector<std::string>{"one", "two", "three"},
                      std::vector<std::string>{"", "-", "with space",
                                               "/opt/corvane2/scripts/other.py"}));

// ---------------------------------------------------------------------------------------------
// The environment reaches the script unchanged.

TEST_F(LauncherTest, EnvironmentReachesProgramUnchanged)
{
    const std::vector<std::string> environment{"PATH=/usr/bin:/bin", "PROBE_WORD=seen",
                                               "PROBE_SPACES=a b  c", "PYTHONPATH=/srv/monitor",
                                               "EMPTY="};
    ASSERT_NO_FATAL_FAILURE(launch(probe_program(), {"ignored"}, environment));
    EXPECT_EQ(result_.exit_status, 0);
    EXPECT_THAT(probe_lines(result_.standard_output, "env="),
                UnorderedElementsAreArray(environment));
}

TEST_F(LauncherTest, EmptyEnvironmentStaysEmpty)
{
    ASSERT_NO_FATAL_FAILURE(launch(probe_program(), {}, {}));
    EXPECT_EQ(result_.exit_status, 0);
    EXPECT_THAT(probe_lines(result_.standard_output, "env="), IsEmpty());
}

TEST_F(LauncherTest, ShellScriptSeesGivenVariables)
{
    ASSERT_NO_FATAL_FAILURE(
        launch(shell_script("printf '%s|%s\\n' \"$PROBE_WORD\" \"$PYTHONPATH\"\n"), {},
               {"PROBE_WORD=seen", "PYTHONPATH=/srv/monitor"}));
    EXPECT_EQ(result_.exit_status, 0);
    EXPECT_EQ(result_.standard_output, "seen|/srv/monitor\n");
}

// ---------------------------------------------------------------------------------------------
// Whoever started the launcher sees how the script ended.

struct Ending {
    const char* name;
    const char* script_body;
    bool exited;
    int exit_status;
    int signal;
};

void PrintTo(const Ending& ending, std::ostream* out)
{
    *out << ending.name;
}

class LauncherEndingTest : public LauncherTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(LauncherEndingTest, ScriptEndingIsTheLaunchersEnding)
{
    const Ending& ending = GetParam();
    ASSERT_NO_FATAL_FAILURE(launch(shell_script(ending.script_body), {"extra"}));
    EXPECT_EQ(result_.exited, ending.exited);
    EXPECT_EQ(result_.exit_status, ending.exit_status);
    EXPECT_EQ(result_.signal, ending.signal);
    EXPECT_EQ(result_.standard_output, "from the script\n");
    EXPECT_THAT(result_.standard_error, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, LauncherEndingTest,
    ::testing::Values(Ending{"Success", "echo 'from the script'\nexit 0\n", true, 0, 0},
                      Ending{"Status7", "echo 'from the script'\nexit 7\n", true, 7, 0},
                      Ending{"Status255", "echo 'from the script'\nexit 255\n", true, 255, 0},
                      Ending{"KilledByTerm", "echo 'from the script'\nkill -TERM $$\n", false, -1,
                             SIGTERM}),
    [](const ::testing::TestParamInfo<Ending>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// A script that cannot be started: one line on standard error, the shells' status, and nothing on
// standard output.

struct StartFailure {
    const char* name;
    ScriptLayout layout;
    int error;
    int exit_status;
};

void PrintTo(const StartFailure& failure, std::ostream* out)
{
    *out << failure.name;
}

class LauncherStartFailureTest : public LauncherTest,
                                 public ::testing::WithParamInterface<StartFailure> {};

TEST_P(LauncherStartFailureTest, ReportsOneLineAndShellStatus)
{
    const StartFailure& failure = GetParam();
    ASSERT_NO_FATAL_FAILURE(launch(failure.layout, {"--verbose", "x"}));
    EXPECT_TRUE(result_.exited);
    EXPECT_EQ(result_.exit_status, failure.exit_status);
    EXPECT_THAT(result_.standard_output, IsEmpty());
    EXPECT_EQ(result_.standard_error, failure_line(failure.error));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LauncherStartFailureTest,
    ::testing::Values(
        StartFailure{"NoScript", {ScriptKind::absent, "", 0}, ENOENT, 127},
        StartFailure{
            "ScriptsFolderIsAFile", {ScriptKind::scripts_folder_is_file, "", 0644}, ENOTDIR, 127},
        StartFailure{"NoExecuteBit", shell_script("exit 0\n", 0644), EACCES, 126},
        // The kernel answers ENOENT for a missing interpreter too; the script is there, so this
        // is "cannot execute", not "not found".
        StartFailure{"MissingInterpreter",
                     {ScriptKind::file, "#!/nonexistent/python3\nprint('x')\n", 0755},
                     ENOENT,
                     126},
        StartFailure{"NoInterpreterLine", {ScriptKind::file, "print('x')\n", 0755}, ENOEXEC, 126},
        StartFailure{"FolderAtScriptPath", {ScriptKind::folder, "", 0755}, EACCES, 126}),
    [](const ::testing::TestParamInfo<StartFailure>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// The shipped file itself.

TEST(LauncherBinaryTest, DynamicSectionNamesTheCLibraryAlone)
{
    const ElfDynamicInfo info = read_elf_dynamic_info(launcher_path);
    ASSERT_THAT(info.error, IsEmpty());
    EXPECT_EQ(info.machine, EM_X86_64);
    EXPECT_EQ(info.interpreter, "/lib64/ld-linux-x86-64.so.2");
    EXPECT_THAT(info.needed, ElementsAre("libc.so.6"));
}

TEST(LauncherBinaryTest, IsNeverSetUserId)
{
    struct stat status {};
    ASSERT_EQ(stat(launcher_path, &status), 0) << std::strerror(errno);
    EXPECT_EQ(status.st_mode & (S_ISUID | S_ISGID), 0u);
    EXPECT_NE(status.st_mode & S_IXUSR, 0u);
}

// The reader itself must see through the very thing it is used to catch.
TEST(ElfDynamicReaderTest, SeesTheCppRuntimeInAnOrdinaryProgram)
{
    const ElfDynamicInfo info = read_elf_dynamic_info(probe_path);
    ASSERT_THAT(info.error, IsEmpty());
    EXPECT_THAT(info.needed, ::testing::Contains("libc.so.6"));
    EXPECT_THAT(info.needed, ::testing::Contains("libstdc++.so.6"));
}

TEST(ElfDynamicReaderTest, RefusesWhatIsNotElf)
{
    EXPECT_THAT(read_elf_dynamic_info("/nonexistent/file").error, ::testing::Not(IsEmpty()));
    EXPECT_THAT(read_elf_dynamic_info(PRIVATE_OPT_SOURCE_PATH).error, ::testing::Not(IsEmpty()));
}

}  // namespace
}  // namespace launcher_test
