// Every example script runs with the shipped serial-lab and shows what its expectation file
// lists: each line there must appear as a whole output line, in that order (other lines may
// come between). A script without an expectation file is a failure: nothing goes unchecked.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int status = -1;
    std::string output;  // standard output and standard error together, as a user sees them
};

RunResult run_lab(const std::string& arguments) {
    RunResult result;
    const std::string command = std::string(SERIAL_LAB_PATH) + " " + arguments + " 2>&1 </dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), got);
    const int wait_status = pclose(pipe);
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    return result;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> expectations(const fs::path& file) {
    std::ifstream stream(file);
    std::vector<std::string> wanted;
    for (std::string line; std::getline(stream, line);) {
        if (line.empty() || line.starts_with("#")) continue;
        wanted.push_back(line);
    }
    return wanted;
}

std::vector<fs::path> example_scripts() {
    std::vector<fs::path> scripts;
    for (const auto& entry : fs::directory_iterator(LAB_EXAMPLES_DIR)) {
        if (entry.path().extension() == ".lab") scripts.push_back(entry.path());
    }
    std::sort(scripts.begin(), scripts.end());
    return scripts;
}

class ExampleScript : public ::testing::TestWithParam<fs::path> {};

TEST_P(ExampleScript, RunsAndShowsWhatItsExpectationFileLists) {
    const fs::path script = GetParam();
    const fs::path expected_file = fs::path(LAB_EXPECTED_DIR) / (script.stem().string() + ".expect");
    ASSERT_TRUE(fs::exists(expected_file)) << "no expectation file " << expected_file;
    const auto wanted = expectations(expected_file);
    ASSERT_FALSE(wanted.empty()) << expected_file << " lists nothing";

    const RunResult run = run_lab(script.string());
    EXPECT_EQ(run.status, 0) << run.output;
    const auto shown = lines_of(run.output);
    std::size_t position = 0;
    for (const auto& line : wanted) {
        while (position < shown.size() && shown[position] != line) ++position;
        ASSERT_LT(position, shown.size()) << "missing, or out of order: \"" << line << "\"\n--- output ---\n"
                                          << run.output;
        ++position;
    }
}

std::string test_name(const ::testing::TestParamInfo<fs::path>& info) {
    std::string name = info.param.stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleScript, ::testing::ValuesIn(example_scripts()), test_name);

TEST(Examples, TheDemoIsThere) { EXPECT_TRUE(fs::exists(fs::path(LAB_EXAMPLES_DIR) / "demo.lab")); }

}  // namespace
