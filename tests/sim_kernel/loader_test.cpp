// The module loader: parameters, module information, fresh state on every load, exports, the
// parameter files, failure paths that leave nothing loaded, and on-demand loading by alias.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "sim/kernel/machine.h"
#include "sim/kernel/module/modinfo.h"

namespace sim::kernel {
namespace {

using ::testing::HasSubstr;

MachineSettings test_settings() {
    MachineSettings settings;
    settings.module_dir = TEST_MODULE_DIR;
    return settings;
}

class LoaderTest : public ::testing::Test {
protected:
    std::string param(const std::string& name) {
        return machine.files().read("/sys/module/testmod/parameters/" + name).content;
    }
    unsigned inits_seen() {
        auto* function = machine.symbols().function<unsigned()>("testmod_inits_seen");
        return function != nullptr ? function() : 0;
    }
    void expect_nothing_loaded() {
        EXPECT_FALSE(machine.modules().loaded("testmod"));
        EXPECT_EQ(machine.symbols().find("testmod_inits_seen"), nullptr);
        EXPECT_TRUE(machine.files().list("/sys/module/testmod/").empty());
    }

    Machine machine{test_settings()};
};

TEST_F(LoaderTest, LoadsWithDefaultsAndShowsParameterFiles) {
    const LoadResult result = machine.modules().load("testmod");
    ASSERT_TRUE(result) << result.message;
    EXPECT_TRUE(machine.modules().loaded("testmod"));
    EXPECT_EQ(param("count"), "3\n");
    EXPECT_EQ(param("limit"), "100\n");
    EXPECT_EQ(param("bases"), "\n");
    // A parameter of mode 0 has no file.
    EXPECT_FALSE(machine.files().exists("/sys/module/testmod/parameters/leave_timer"));
    EXPECT_TRUE(machine.log().contains("testmod: init 1 count 3"));
    EXPECT_THAT(machine.files().read("/proc/modules").content, HasSubstr("testmod "));
}

TEST_F(LoaderTest, AppliesTheParameterString) {
    ASSERT_TRUE(machine.modules().load("testmod", "count=8 limit=0x20 bases=0x100,0x2e8"));
    EXPECT_EQ(param("count"), "8\n");
    EXPECT_EQ(param("limit"), "32\n");
    EXPECT_EQ(param("bases"), "256,744\n");
}

TEST_F(LoaderTest, WritesParametersAsTheirModeAllows) {
    ASSERT_TRUE(machine.modules().load("testmod"));
    EXPECT_EQ(machine.files().write("/sys/module/testmod/parameters/count", "12\n"), 0);
    EXPECT_EQ(param("count"), "12\n");
    EXPECT_EQ(machine.symbols().function<unsigned()>("testmod_inits_seen")(), 1u);
    // Mode 0444: refused with a permission error, value unchanged.
    EXPECT_EQ(machine.files().write("/sys/module/testmod/parameters/limit", "5"), -kerr::acces);
    EXPECT_EQ(param("limit"), "100\n");
    // A malformed value for a writable one is refused and changes nothing.
    EXPECT_EQ(machine.files().write("/sys/module/testmod/parameters/count", "12x"), -kerr::inval);
    EXPECT_EQ(param("count"), "12\n");
}

struct BadParameters {
    const char* parameters;
    const char* log_line;
};

class LoaderBadParameterTest : public LoaderTest,
                               public ::testing::WithParamInterface<BadParameters> {};

TEST_P(LoaderBadParameterTest, FailsWithInvalidAndLeavesNothingLoaded) {
    const LoadResult result = machine.modules().load("testmod", GetParam().parameters);
    EXPECT_EQ(result.error, -kerr::inval);
    EXPECT_FALSE(result.message.empty());
    EXPECT_TRUE(machine.log().contains(GetParam().log_line)) << machine.log().dmesg();
    expect_nothing_loaded();
    // The module's init never ran.
    EXPECT_FALSE(machine.log().contains("testmod: init"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoaderBadParameterTest,
    ::testing::Values(
        BadParameters{"foo=1", "testmod: Unknown parameter `foo'"},
        BadParameters{"count=1 foo", "testmod: Unknown parameter `foo'"},
        BadParameters{"count=abc", "testmod: `abc' invalid for parameter `count'"},
        BadParameters{"count=", "testmod: `' invalid for parameter `count'"},
        BadParameters{"count", "testmod: `' invalid for parameter `count'"},
        BadParameters{"count=-1", "testmod: `-1' invalid for parameter `count'"},
        BadParameters{"count=4294967296", "testmod: `4294967296' invalid for parameter `count'"},
        BadParameters{"count=08", "testmod: `08' invalid for parameter `count'"},
        BadParameters{"limit=18446744073709551616", "invalid for parameter `limit'"},
        BadParameters{"bases=1,2,3,4,5", "bases: can only take 4 arguments"},
        BadParameters{"bases=1,,2", "testmod: `1,,2' invalid for parameter `bases'"}));

TEST_F(LoaderTest, TakesQuotedValuesAndDashesForUnderscores) {
    ASSERT_TRUE(machine.modules().load("testmod", "\"count=7\" fail-with=0"));
    EXPECT_EQ(param("count"), "7\n");
}

TEST_F(LoaderTest, EveryLoadStartsFromFreshStaticState) {
    ASSERT_TRUE(machine.modules().load("testmod", "count=9"));
    EXPECT_EQ(inits_seen(), 1u);
    ASSERT_TRUE(machine.modules().unload("testmod"));
    expect_nothing_loaded();
    EXPECT_TRUE(machine.log().contains("testmod: exit"));
    ASSERT_TRUE(machine.modules().load("testmod"));
    // The counter and the parameter are the file's again, not what the first load left.
    EXPECT_EQ(inits_seen(), 1u);
    EXPECT_EQ(param("count"), "3\n");
}

TEST_F(LoaderTest, AFailingInitFailsTheLoadWithItsError) {
    const LoadResult result = machine.modules().load("testmod", "fail_with=19");
    EXPECT_EQ(result.error, -kerr::nodev);
    expect_nothing_loaded();
    // A later load is fresh: the failed one's state went with it.
    ASSERT_TRUE(machine.modules().load("testmod"));
    EXPECT_EQ(inits_seen(), 1u);
}

TEST_F(LoaderTest, RefusesASecondLoadAndUnknownModules) {
    ASSERT_TRUE(machine.modules().load("testmod"));
    EXPECT_EQ(machine.modules().load("testmod").error, -kerr::exist);
    EXPECT_EQ(machine.modules().load("nosuchmodule").error, -kerr::noent);
    EXPECT_EQ(machine.modules().unload("nosuchmodule").error, -kerr::noent);
    EXPECT_EQ(inits_seen(), 1u);
}

TEST_F(LoaderTest, AModuleInUseCannotBeUnloaded) {
    ASSERT_TRUE(machine.modules().load("testmod"));
    const auto* record = static_cast<const ::module*>(machine.modules().symbol("testmod", "__this_module"));
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(machine.modules().try_get(record));
    EXPECT_EQ(machine.modules().unload("testmod").error, -kerr::busy);
    machine.modules().put(record);
    EXPECT_TRUE(machine.modules().unload("testmod"));
}

TEST_F(LoaderTest, WhatAModuleLeavesBehindIsReportedAndRemoved) {
    ASSERT_TRUE(machine.modules().load("testmod", "leave_timer=1"));
    EXPECT_EQ(machine.timers().pending_count(), 1u);
    ASSERT_TRUE(machine.modules().unload("testmod"));
    EXPECT_EQ(machine.timers().pending_count(), 0u);
    EXPECT_TRUE(machine.log().contains("testmod: unloaded with pending timer"));
    // Nothing calls into the module that is gone.
    machine.run_for(std::chrono::seconds(10));
}

TEST_F(LoaderTest, RequestModuleLoadsByAlias) {
    machine.modules().set_default_options("testmod", "count=5");
    EXPECT_EQ(machine.modules().request_module("char-major-250-3"), 0);
    EXPECT_TRUE(machine.modules().loaded("testmod"));
    EXPECT_EQ(param("count"), "5\n");
    // Already there: nothing more happens.
    EXPECT_EQ(machine.modules().request_module("char-major-250-4"), 0);
    EXPECT_EQ(inits_seen(), 1u);
    EXPECT_EQ(machine.modules().request_module("char-major-251-0"), -kerr::noent);
}

TEST(ModInfoTest, ReadsTheModinfoSection) {
    const ModInfoResult result = read_modinfo(TEST_MODULE_PATH);
    ASSERT_TRUE(result.info) << result.error;
    EXPECT_EQ(result.info->value("license"), "GPL");
    EXPECT_EQ(result.info->value("alias"), "char-major-250-*");
    EXPECT_EQ(result.info->value("parmtype"), "count:uint");
    EXPECT_EQ(result.info->value("depends"), "");
    EXPECT_EQ(result.info->value("vermagic"), std::nullopt);
}

TEST(ModInfoTest, RefusesDamagedImagesWithoutReadingOutsideThem) {
    std::ifstream file(TEST_MODULE_PATH, std::ios::binary);
    const std::vector<char> good{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GT(good.size(), 64u);
    // Every truncation of the image either still finds the section or refuses it: no crash,
    // no read past the end (the sanitizer build checks that part).
    for (std::size_t length = 0; length < good.size(); length += 97) {
        const std::vector<char> cut(good.begin(), good.begin() + static_cast<long>(length));
        const ModInfoResult result = parse_modinfo(std::as_bytes(std::span(cut)));
        if (!result.info) {
            EXPECT_FALSE(result.error.empty());
        }
    }
    std::vector<char> wrong_magic = good;
    wrong_magic[1] = 'X';
    EXPECT_EQ(parse_modinfo(std::as_bytes(std::span(wrong_magic))).error, "not an ELF file");
    // Section headers said to lie far past the end.
    std::vector<char> bad_offset = good;
    bad_offset[0x28 + 7] = 0x7f;
    EXPECT_FALSE(parse_modinfo(std::as_bytes(std::span(bad_offset))).info);
    EXPECT_FALSE(read_modinfo("/nonexistent/file.ko").info);
}

}  // namespace
}  // namespace sim::kernel
