// Builds the Debian package from the install step, as a release would, and looks at it with
// dpkg-deb: its control fields, its file list, and the programs inside it.

#include "command.h"
#include "elf_dynamic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace install_test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

constexpr char package_name[] = "corvane2-native";
constexpr char module_path[] =
    "usr/lib/modules/" MODULE_KERNEL_RELEASE "/kernel/drivers/serial/8250.ko";
constexpr bool have_serial_lab = HAVE_SERIAL_LAB;
constexpr bool have_module = HAVE_MODULE;
constexpr bool sanitizer_build = SANITIZER_BUILD;

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

// "Name: value" lines; a line that starts with a space continues the field before it.
std::map<std::string, std::string> control_fields(const std::string& text)
{
    std::map<std::string, std::string> fields;
    std::string current;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line[0] == ' ' && !current.empty()) {
            fields[current] += '\n' + line.substr(1);
            continue;
        }
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            current = line.substr(0, colon);
            fields[current] = trimmed(line.substr(colon + 1));
        }
    }
    return fields;
}

// The package names of a Depends field, without version constraints.
std::vector<std::string> dependency_names(const std::string& depends)
{
    std::vector<std::string> names;
    std::istringstream stream(depends);
    for (std::string entry; std::getline(stream, entry, ',');) {
        entry = trimmed(entry);
        names.push_back(entry.substr(0, entry.find_first_of(" (|")));
    }
    return names;
}

struct PackagedFile {
    std::string mode;
    std::string owner;
};

// `dpkg-deb --contents` lists "mode owner/group size date time ./path".
std::map<std::string, PackagedFile> regular_files(const std::string& listing)
{
    std::map<std::string, PackagedFile> files;
    std::istringstream stream(listing);
    for (std::string line; std::getline(stream, line);) {
        std::istringstream fields(line);
        std::string mode, owner, size, date, time, path;
        fields >> mode >> owner >> size >> date >> time >> path;
        if (mode.empty() || mode[0] != '-') {
            continue;
        }
        if (path.rfind("./", 0) == 0) {
            path.erase(0, 2);
        }
        files[path] = {mode, owner};
    }
    return files;
}

std::string file_bytes(const fs::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::string command_text(const std::vector<std::string>& command)
{
    std::string text;
    for (const std::string& word : command) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

// The package is built once for the whole suite, into a folder of its own, so that nothing
// from an earlier run or a parallel one is looked at.
class PackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char folder_template[] = "/tmp/corvane2-package-test-XXXXXX";
        if (mkdtemp(folder_template) == nullptr) {
            build_error_ = "cannot make a folder for the package";
            return;
        }
        work_ = folder_template;
        const CommandResult built = run(
            {CPACK_COMMAND, "-G", "DEB", "--config", CPACK_CONFIG, "-B", (work_ / "out").string()});
        if (!build_error_.empty() || built.exit_status != 0) {
            build_error_ += "\n" + built.standard_output + built.standard_error;
            return;
        }
        for (const auto& entry : fs::directory_iterator(work_ / "out")) {
            if (entry.path().extension() == ".deb") {
                packages_.push_back(entry.path());
            }
        }
        if (packages_.size() != 1) {
            build_error_ = "expected one .deb, found " + std::to_string(packages_.size());
            return;
        }
        fields_ = control_fields(run({"dpkg-deb", "--field", package().string()}).standard_output);
        listing_ = run({"dpkg-deb", "--contents", package().string()}).standard_output;
        run({"dpkg-deb", "--extract", package().string(), (work_ / "root").string()});
    }

    static void TearDownTestSuite()
    {
        if (!work_.empty()) {
            std::error_code ignored;
            fs::remove_all(work_, ignored);
        }
    }

    // The reason is shown once; every other test just says it could not look.
    void SetUp() override
    {
        if (!build_error_.empty()) {
            const bool first = !reported_;
            reported_ = true;
            GTEST_FAIL() << "the package was not built"
                         << (first ? ": " + build_error_ : std::string(" (see above)"));
        }
    }

    static CommandResult run(const std::vector<std::string>& command)
    {
        CommandResult result = run_command(command);
        if (!result.start_error.empty() || result.exit_status != 0) {
            build_error_ += command_text(command) + " failed (" + result.start_error + " status " +
                            std::to_string(result.exit_status) + ")";
        }
        return result;
    }

    static const fs::path& package() { return packages_.front(); }

    static inline fs::path work_;
    static inline std::vector<fs::path> packages_;
    static inline std::string build_error_;
    static inline std::map<std::string, std::string> fields_;
    static inline std::string listing_;
    static inline bool reported_ = false;
};

TEST_F(PackageTest, ControlFieldsDescribeThePackage)
{
    const std::string architecture =
        trimmed(run_command({"dpkg", "--print-architecture"}).standard_output);
    EXPECT_EQ(fields_["Package"], package_name);
    EXPECT_EQ(fields_["Version"], PACKAGE_VERSION);
    EXPECT_EQ(fields_["Architecture"], architecture);
    EXPECT_THAT(fields_["Maintainer"], MatchesRegex(".+ <.+@.+>"));
    EXPECT_EQ(fields_["Section"], "admin");
    EXPECT_EQ(fields_["Priority"], "optional");
    // A synopsis line, then an extended description that names what the package holds.
    const std::string& description = fields_["Description"];
    EXPECT_THAT(description, StartsWith("native part of the Corvane2 Xen host installation\n"));
    EXPECT_THAT(description, ::testing::HasSubstr("xentop-launcher"));
    EXPECT_EQ(package().filename().string(),
              std::string(package_name) + "_" + PACKAGE_VERSION + "_" + architecture + ".deb");
}

TEST_F(PackageTest, DependsOnTheDistributionLibrariesThatReplaceTheCarriedOnes)
{
    const std::vector<std::string> names = dependency_names(fields_["Depends"]);
    for (const char* carried : {"libavcodec59", "libavformat59", "libavutil57", "libswscale6",
                                "libcairo2", "libpixman-1-0"}) {
        EXPECT_EQ(std::count(names.begin(), names.end(), carried), 1)
            << carried << " in Depends: " << fields_["Depends"];
    }
    // What the programs themselves link against comes from dpkg-shlibdeps.
    EXPECT_EQ(std::count(names.begin(), names.end(), "libc6"), 1) << fields_["Depends"];
    const std::set<std::string> distinct(names.begin(), names.end());
    EXPECT_EQ(distinct.size(), names.size()) << "repeated entries: " << fields_["Depends"];
    for (const std::string& name : names) {
        EXPECT_THAT(name, MatchesRegex("[a-z0-9][a-z0-9.+-]+")) << fields_["Depends"];
        if (!sanitizer_build) {
            EXPECT_THAT(name, ::testing::Not(MatchesRegex("lib(a|ub|l|t)san.*")))
                << "a sanitizer runtime in a release package";
        }
    }
}

TEST_F(PackageTest, HoldsExactlyTheInstalledFilesWithOrdinaryModes)
{
    const std::string program = "-rwxr-xr-x";
    const std::string data = "-rw-r--r--";
    std::map<std::string, std::string> expected{
        {"usr/bin/xentop-launcher", program},
        {"usr/bin/corvane2-check-install", program},
        {"usr/share/man/man1/xentop-launcher.1.gz", data},
        {"usr/share/man/man1/corvane2-check-install.1.gz", data},
    };
    if (have_serial_lab) {
        expected["usr/bin/serial-lab"] = program;
        expected["usr/share/man/man1/serial-lab.1.gz"] = data;
    }
    if (have_module) {
        expected[module_path] = data;
    }
    if (fs::is_directory(EXAMPLES_DIR)) {
        for (const auto& entry : fs::directory_iterator(EXAMPLES_DIR)) {
            if (entry.path().extension() == ".lab") {
                expected["usr/share/doc/corvane2-native/examples/" +
                         entry.path().filename().string()] = data;
            }
        }
    }

    const std::map<std::string, PackagedFile> files = regular_files(listing_);
    std::map<std::string, std::string> modes;
    for (const auto& [path, file] : files) {
        modes[path] = file.mode;
        EXPECT_EQ(file.owner, "root/root") << path;
    }
    // The modes compared in full: no set-user-ID or set-group-ID bit, nothing writable by others.
    EXPECT_EQ(modes, expected) << listing_;
}

TEST_F(PackageTest, PackagedLauncherLinksAgainstTheCLibraryAlone)
{
    const launcher_test::ElfDynamicInfo info =
        launcher_test::read_elf_dynamic_info((work_ / "root/usr/bin/xentop-launcher").string());
    ASSERT_THAT(info.error, IsEmpty());
    EXPECT_THAT(info.needed, ElementsAre("libc.so.6"));
}

TEST_F(PackageTest, ModuleFileIsPackagedUnchanged)
{
    if (!have_module) {
        GTEST_SKIP() << "the 8250 module target is not part of this tree yet";
    }
    const std::string packaged = file_bytes(work_ / "root" / module_path);
    ASSERT_FALSE(packaged.empty());
    // Stripping would take the symbol tables the module is bound through.
    EXPECT_TRUE(packaged == file_bytes(MODULE_BUILD_PATH));
}

TEST_F(PackageTest, PackagedInstallationCheckReportsEveryLibrary)
{
    const CommandResult check =
        run_command({(work_ / "root/usr/bin/corvane2-check-install").string()});
    ASSERT_THAT(check.start_error, IsEmpty());
    std::vector<std::string> subjects;
    std::istringstream stream(check.standard_output);
    std::string last_line;
    for (std::string line; std::getline(stream, line);) {
        subjects.push_back(line.substr(0, line.find(": ")));
        last_line = line;
    }
    EXPECT_THAT(subjects, ElementsAre("libavutil.so.57", "libavcodec.so.59", "libavformat.so.59",
                                      "libswscale.so.6", "libcairo.so.2", "libpixman-1.so.0",
                                      "/opt/corvane2/scripts/xentop.py", "check-install"));
    EXPECT_EQ(check.exit_status == 0,
              last_line == "check-install: everything the installation relies on is present")
        << check.standard_output;
}

}  // namespace
}  // namespace install_test
