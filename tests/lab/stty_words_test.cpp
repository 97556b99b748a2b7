#include "tools/serial-lab/tty/stty_words.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "plain_words.h"

namespace lab {
namespace {

ktermios default_settings() {
    ktermios settings{};
    settings.c_cflag = B9600 | CS8 | CREAD | HUPCL;
    settings.c_iflag = ICRNL | IXON;
    return settings;
}

struct SttyCase {
    std::vector<std::string> words;
    tcflag_t cflag;
    tcflag_t iflag;
    friend std::ostream& operator<<(std::ostream& out, const SttyCase& c) { return out << ::testing::PrintToString(c.words); }
};

class SttyWordsTest : public ::testing::TestWithParam<SttyCase> {};

TEST_P(SttyWordsTest, WordsSetTheKernelBits) {
    const auto words = words_of(GetParam().words);
    const auto result = apply_stty_words(default_settings(), words);
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_EQ(result->c_cflag, GetParam().cflag);
    EXPECT_EQ(result->c_iflag, GetParam().iflag);
}

INSTANTIATE_TEST_SUITE_P(
    Words, SttyWordsTest,
    ::testing::Values(
        SttyCase{{"115200", "crtscts"}, B115200 | CS8 | CREAD | HUPCL | CRTSCTS, ICRNL | IXON},
        SttyCase{{"9600", "cs7", "parenb", "-parodd"}, B9600 | CS7 | CREAD | HUPCL | PARENB, ICRNL | IXON},
        SttyCase{{"cs5", "cstopb", "parenb", "parodd", "cmspar"},
                 B9600 | CS5 | CREAD | HUPCL | CSTOPB | PARENB | PARODD | CMSPAR, ICRNL | IXON},
        SttyCase{{"-cread", "clocal", "-hupcl"}, B9600 | CS8 | CLOCAL, ICRNL | IXON},
        SttyCase{{"ignbrk", "brkint", "ignpar", "parmrk", "inpck", "-icrnl", "-ixon"},
                 B9600 | CS8 | CREAD | HUPCL, IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK},
        SttyCase{{"ispeed", "57600"}, B57600 | CS8 | CREAD | HUPCL, ICRNL | IXON},
        SttyCase{{"460800", "raw"}, B460800 | CS8 | CREAD | HUPCL, 0}));

TEST(SttyWords, ABadWordAppliesNothing) {
    const ktermios before = default_settings();
    for (std::vector<std::string> bad : {std::vector<std::string>{"115200", "frobnicate"},
                                         {"115201"}, {"cs9"}, {"-cs8"}, {"ispeed"}, {"9600x"}, {"min", "256"}}) {
        const auto words = words_of(bad);
        EXPECT_FALSE(apply_stty_words(before, words).ok()) << bad.front();
    }
    const auto words = words_of({"115201"});
    EXPECT_EQ(apply_stty_words(before, words).error().message, "invalid speed '115201' (not a standard rate)");
}

TEST(SttyReport, ShowsSpeedAndFlagsAsSttyDoes) {
    ktermios settings = default_settings();
    settings.c_cflag = B115200 | CS8 | CREAD | CLOCAL | CRTSCTS;
    const std::string report = format_stty_all(settings);
    EXPECT_EQ(report.substr(0, report.find('\n')), "speed 115200 baud; line = 0;");
    EXPECT_NE(report.find("-parenb -parodd -cmspar cs8 -hupcl -cstopb cread clocal crtscts\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find("-ignbrk -brkint -ignpar -parmrk -inpck"), std::string::npos) << report;
}

TEST(SpeedTable, CodesAndRatesAgree) {
    for (unsigned rate : {50u, 9600u, 38400u, 57600u, 115200u, 921600u, 4000000u}) {
        const auto code = speed_code(rate);
        ASSERT_TRUE(code.has_value()) << rate;
        EXPECT_EQ(baud_of(*code), rate);
    }
    EXPECT_EQ(speed_code(115200), B115200);
    EXPECT_FALSE(speed_code(12345).has_value());
}

}  // namespace
}  // namespace lab
