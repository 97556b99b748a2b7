// The installation check against a machine played by the test: libraries that load or not,
// symbols that are there or not, an MJPEG codec or none, the script present or not.

#include "check_install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace install_test {
namespace {

using check_install::FileState;
using check_install::HostAccess;
using check_install::LoadedLibrary;
using check_install::LoadResult;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// What the played libavcodec knows; reset before every test.
struct FakeCodecs {
    bool knows_mjpeg = true;
    bool encoder = true;
    bool decoder = true;
    bool descriptor_round_trip = true;
} codecs;

// The descriptor record starts with the codec id; the rest is never read.
constexpr int fake_mjpeg_id = 7;
const int fake_mjpeg_descriptor[4] = {fake_mjpeg_id, 0, 0, 0};
const int other_descriptor[4] = {fake_mjpeg_id + 1, 0, 0, 0};
const char fake_codec_record[] = "codec";

const int* descriptor_get_by_name(const char* name)
{
    return codecs.knows_mjpeg && std::string(name) == "mjpeg" ? fake_mjpeg_descriptor : nullptr;
}
const int* descriptor_get(int id)
{
    if (id != fake_mjpeg_id) {
        return nullptr;
    }
    return codecs.descriptor_round_trip ? fake_mjpeg_descriptor : other_descriptor;
}
const void* find_encoder(int id)
{
    return codecs.encoder && id == fake_mjpeg_id ? fake_codec_record : nullptr;
}
const void* find_decoder(int id)
{
    return codecs.decoder && id == fake_mjpeg_id ? fake_codec_record : nullptr;
}
const void* find_encoder_by_name(const char* name)
{
    return codecs.encoder && std::string(name) == "mjpeg" ? fake_codec_record : nullptr;
}
const void* find_decoder_by_name(const char* name)
{
    return codecs.decoder && std::string(name) == "mjpeg" ? fake_codec_record : nullptr;
}
unsigned avutil_version()
{
    return 57u << 16 | 28u << 8 | 100u;
}
unsigned avcodec_version()
{
    return 59u << 16 | 37u << 8 | 100u;
}
unsigned avformat_version()
{
    return 59u << 16 | 27u << 8 | 100u;
}
unsigned swscale_version()
{
    return 6u << 16 | 7u << 8 | 100u;
}
const char* cairo_version()
{
    return "1.16.0";
}
const char* pixman_version()
{
    return "0.42.2";
}
void never_called()
{
    ADD_FAILURE() << "the check called a function it should only look up";
}

template <typename Function>
void* address_of(Function function)
{
    return reinterpret_cast<void*>(function);
}

// Functions the check calls get working stand-ins; any other name is "defined" unless the test
// took it away.
const std::map<std::string, void*>& callable_symbols()
{
    static const std::map<std::string, void*> symbols{
        {"avutil_version", address_of(avutil_version)},
        {"avcodec_version", address_of(avcodec_version)},
        {"avformat_version", address_of(avformat_version)},
        {"swscale_version", address_of(swscale_version)},
        {"cairo_version_string", address_of(cairo_version)},
        {"pixman_version_string", address_of(pixman_version)},
        {"avcodec_descriptor_get_by_name", address_of(descriptor_get_by_name)},
        {"avcodec_descriptor_get", address_of(descriptor_get)},
        {"avcodec_find_encoder", address_of(find_encoder)},
        {"avcodec_find_decoder", address_of(find_decoder)},
        {"avcodec_find_encoder_by_name", address_of(find_encoder_by_name)},
        {"avcodec_find_decoder_by_name", address_of(find_decoder_by_name)},
    };
    return symbols;
}

class FakeLibrary final : public LoadedLibrary {
public:
    explicit FakeLibrary(std::set<std::string> removed) : removed_(std::move(removed)) {}

    void* symbol(const char* name) const override
    {
        if (removed_.count(name) != 0) {
            return nullptr;
        }
        const auto callable = callable_symbols().find(name);
        return callable != callable_symbols().end() ? callable->second : address_of(never_called);
    }

private:
    std::set<std::string> removed_;
};

class FakeMachine final : public HostAccess {
public:
    std::set<std::string> absent_libraries;
    std::map<std::string, std::set<std::string>> removed_symbols;  // by shared-object name
    FileState script = FileState::executable;
    std::vector<std::string> script_paths_asked;

    LoadResult load(const char* shared_object_name) override
    {
        if (absent_libraries.count(shared_object_name) != 0) {
            return {nullptr, std::string(shared_object_name) +
                                 ": cannot open shared object file: No such file or directory"};
        }
        return {std::make_unique<FakeLibrary>(removed_symbols[shared_object_name]), {}};
    }

    FileState file_state(const char* path) override
    {
        script_paths_asked.emplace_back(path);
        return script;
    }
};

class CheckInstallTest : public ::testing::Test {
protected:
    void SetUp() override { codecs = FakeCodecs{}; }

    void run_check()
    {
        std::ostringstream out;
        status_ = check_install::run_check_install(out, machine_);
        lines_.clear();
        std::istringstream stream(out.str());
        for (std::string line; std::getline(stream, line);) {
            lines_.push_back(line);
        }
    }

    // The report line that begins with `subject`.
    std::string line_for(const std::string& subject) const
    {
        for (const std::string& line : lines_) {
            if (line.rfind(subject + ": ", 0) == 0) {
                return line;
            }
        }
        return "(no line for " + subject + ")";
    }

    std::string summary() const { return lines_.empty() ? "" : lines_.back(); }

    FakeMachine machine_;
    int status_ = -1;
    std::vector<std::string> lines_;
};

TEST_F(CheckInstallTest, CompleteMachinePassesWithOneLineEach)
{
    run_check();
    EXPECT_EQ(status_, 0);
    EXPECT_THAT(lines_,
                ElementsAre("libavutil.so.57: ok, version 57.28.100: memory and frame helpers",
                            "libavcodec.so.59: ok, version 59.37.100: MJPEG encoder and decoder",
                            "libavformat.so.59: ok, version 59.27.100: format context",
                            "libswscale.so.6: ok, version 6.7.100: sws_getContext, "
                            "sws_getCachedContext, sws_scale, sws_freeContext",
                            "libcairo.so.2: ok, version 1.16.0: image, PNG, PostScript, PDF, SVG "
                            "and Xlib surfaces",
                            "libpixman-1.so.0: ok, version 0.42.2: image creation",
                            "/opt/corvane2/scripts/xentop.py: ok, present and executable",
                            "check-install: everything the installation relies on is present"));
    EXPECT_THAT(machine_.script_paths_asked, ElementsAre("/opt/corvane2/scripts/xentop.py"));
}

struct CarriedLibrary {
    const char* shared_object;
    const char* debian_package;
};

void PrintTo(const CarriedLibrary& library, std::ostream* out)
{
    *out << library.shared_object;
}

class MissingLibraryTest : public CheckInstallTest,
                           public ::testing::WithParamInterface<CarriedLibrary> {};

TEST_P(MissingLibraryTest, NamesTheLibraryAndThePackageToInstall)
{
    const CarriedLibrary& library = GetParam();
    machine_.absent_libraries.insert(library.shared_object);
    run_check();
    EXPECT_EQ(status_, 1);
    // The loader's reason without the name the line already starts with.
    EXPECT_EQ(line_for(library.shared_object),
              std::string(library.shared_object) +
                  ": missing (cannot open shared object file: No such file or directory); "
                  "install " +
                  library.debian_package);
    EXPECT_EQ(summary(), std::string("check-install: 1 of 7 checks failed; to fix: apt-get "
                                     "install ") +
                             library.debian_package);
    int ok_lines = 0;
    for (const std::string& line : lines_) {
        ok_lines += line.find(": ok, ") != std::string::npos;
    }
    EXPECT_EQ(ok_lines, 6);
}

INSTANTIATE_TEST_SUITE_P(CarriedLibraries, MissingLibraryTest,
                         ::testing::Values(CarriedLibrary{"libavutil.so.57", "libavutil57"},
                                           CarriedLibrary{"libavcodec.so.59", "libavcodec59"},
                                           CarriedLibrary{"libavformat.so.59", "libavformat59"},
                                           CarriedLibrary{"libswscale.so.6", "libswscale6"},
                                           CarriedLibrary{"libcairo.so.2", "libcairo2"},
                                           CarriedLibrary{"libpixman-1.so.0", "libpixman-1-0"}));

struct MissingSymbol {
    const char* shared_object;
    std::set<std::string> removed;
    const char* expected_line;
};

void PrintTo(const MissingSymbol& missing, std::ostream* out)
{
    *out << missing.expected_line;
}

class MissingSymbolTest : public CheckInstallTest,
                          public ::testing::WithParamInterface<MissingSymbol> {};

// The check must not call into a library whose functions it has not all found: a missing
// version or lookup function here would otherwise be a call through a null pointer.
TEST_P(MissingSymbolTest, NamesWhatTheLibraryLacks)
{
    const MissingSymbol& missing = GetParam();
    machine_.removed_symbols[missing.shared_object] = missing.removed;
    run_check();
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(line_for(missing.shared_object), missing.expected_line);
}

INSTANTIATE_TEST_SUITE_P(
    Symbols, MissingSymbolTest,
    ::testing::Values(
        MissingSymbol{"libswscale.so.6",
                      {"sws_getCachedContext"},
                      "libswscale.so.6: incomplete, lacks sws_getCachedContext; install "
                      "libswscale6"},
        MissingSymbol{"libswscale.so.6",
                      {"sws_scale", "sws_freeContext"},
                      "libswscale.so.6: incomplete, lacks sws_scale, sws_freeContext; install "
                      "libswscale6"},
        MissingSymbol{"libcairo.so.2",
                      {"cairo_xlib_surface_create"},
                      "libcairo.so.2: incomplete, lacks cairo_xlib_surface_create; install "
                      "libcairo2"},
        MissingSymbol{"libcairo.so.2",
                      {"cairo_svg_surface_create", "cairo_version_string"},
                      "libcairo.so.2: incomplete, lacks cairo_version_string, "
                      "cairo_svg_surface_create; install libcairo2"},
        MissingSymbol{"libpixman-1.so.0",
                      {"pixman_image_create_bits"},
                      "libpixman-1.so.0: incomplete, lacks pixman_image_create_bits; install "
                      "libpixman-1-0"},
        MissingSymbol{"libavcodec.so.59",
                      {"avcodec_find_encoder", "avcodec_version"},
                      "libavcodec.so.59: incomplete, lacks avcodec_version, avcodec_find_encoder; "
                      "install libavcodec59"}));

struct CodecCase {
    const char* name;
    FakeCodecs codecs;
    const char* problem;
};

void PrintTo(const CodecCase& codec, std::ostream* out)
{
    *out << codec.name;
}

class MjpegTest : public CheckInstallTest, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(MjpegTest, ReportsWhatTheCodecLibraryLacks)
{
    codecs = GetParam().codecs;
    run_check();
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(line_for("libavcodec.so.59"), std::string("libavcodec.so.59: incomplete, version "
                                                        "59.37.100 ") +
                                                GetParam().problem + "; install libavcodec59");
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, MjpegTest,
    ::testing::Values(CodecCase{"NoEncoder", {true, false, true, true}, "has no MJPEG encoder"},
                      CodecCase{"NoDecoder", {true, true, false, true}, "has no MJPEG decoder"},
                      CodecCase{"Neither",
                                {true, false, false, true},
                                "has neither an MJPEG encoder nor an MJPEG decoder"},
                      CodecCase{"UnknownCodec", {false, true, true, true}, "knows no MJPEG codec"},
                      CodecCase{"UnreadableDescriptor",
                                {true, true, true, false},
                                "describes its codecs in a layout this check does not know"}),
    [](const ::testing::TestParamInfo<CodecCase>& info) { return info.param.name; });

TEST_F(CheckInstallTest, ScriptStatesAreReportedWithoutAPackage)
{
    const std::string subject = "/opt/corvane2/scripts/xentop.py";
    machine_.script = FileState::missing;
    run_check();
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(line_for(subject), subject + ": missing; xentop-launcher has no script to start");
    EXPECT_EQ(summary(),
              "check-install: 1 of 7 checks failed; install the host-monitoring "
              "script at /opt/corvane2/scripts/xentop.py");

    machine_.script = FileState::not_executable;
    run_check();
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(line_for(subject),
              subject + ": not executable by this user; xentop-launcher cannot start it");
    EXPECT_THAT(summary(), Not(HasSubstr("apt-get")));
}

TEST_F(CheckInstallTest, SummaryGathersEveryPackageInReportOrder)
{
    machine_.absent_libraries = {"libcairo.so.2", "libavcodec.so.59"};
    machine_.removed_symbols["libswscale.so.6"] = {"sws_getContext"};
    machine_.script = FileState::missing;
    run_check();
    EXPECT_EQ(status_, 1);
    EXPECT_EQ(summary(),
              "check-install: 4 of 7 checks failed; to fix: apt-get install "
              "libavcodec59 libswscale6 libcairo2; and install the host-monitoring "
              "script at /opt/corvane2/scripts/xentop.py");
}

// The same check against this machine's own loader: whatever is installed here, the report is
// complete and its status agrees with its lines.
TEST(CheckInstallOnThisMachineTest, ReportAgreesWithItsStatus)
{
    std::ostringstream out;
    const int status = check_install::run_check_install(out);
    std::vector<std::string> lines;
    std::istringstream stream(out.str());
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 8u) << out.str();
    int problems = 0;
    for (std::size_t index = 0; index + 1 < lines.size(); ++index) {
        problems += lines[index].find(": ok, ") == std::string::npos;
    }
    EXPECT_EQ(status, problems == 0 ? 0 : 1) << out.str();
    EXPECT_THAT(lines.back(), StartsWith("check-install: ")) << out.str();
    if (problems > 0) {
        EXPECT_THAT(lines.back(), HasSubstr(std::to_string(problems) + " of 7 checks failed"));
    }
}

}  // namespace
}  // namespace install_test
