#include "tools/serial-lab/tokenizer.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

namespace lab {
namespace {

std::vector<std::string> texts(const Words& words) {
    std::vector<std::string> result;
    for (const auto& word : words) result.push_back(word.text);
    return result;
}

struct TokenCase {
    std::string line;
    std::vector<std::string> words;
    friend std::ostream& operator<<(std::ostream& out, const TokenCase& c) { return out << '"' << c.line << '"'; }
};

class TokenizeTest : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenizeTest, SplitsAsAShellUserExpects) {
    const auto words = tokenize(GetParam().line);
    ASSERT_TRUE(words.ok()) << words.error().message;
    EXPECT_EQ(texts(*words), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TokenizeTest,
    ::testing::Values(
        TokenCase{"  insmod   8250\tnr_uarts=8 ", {"insmod", "8250", "nr_uarts=8"}},
        TokenCase{R"(write ttyS0 "hello\r\n")", {"write", "ttyS0", "hello\r\n"}},
        TokenCase{R"(write ttyS0 'as\typed')", {"write", "ttyS0", R"(as\typed)"}},
        TokenCase{R"(write ttyS0 "a b"'c d'e)", {"write", "ttyS0", "a bc de"}},
        TokenCase{R"(write ttyS0 "\x41\x7e\0\e")", {"write", "ttyS0", std::string("A~\0\x1b", 4)}},
        TokenCase{R"(write ttyS0 one\ word)", {"write", "ttyS0", "one word"}},
        TokenCase{"dmesg # the log", {"dmesg"}},
        TokenCase{"echo a#b", {"echo", "a#b"}},
        TokenCase{R"(echo "" x)", {"echo", "", "x"}},
        TokenCase{"   ", {}}));

TEST(TokenizeErrors, BadQuotingAndEscapesAreRefused) {
    for (const char* line : {R"(write ttyS0 "open)", "write ttyS0 'open", R"(write "\q")",
                             R"(write "\x")", "write ttyS0 trailing\\"}) {
        EXPECT_FALSE(tokenize(line).ok()) << line;
    }
}

TEST(TokenizeOperators, QuotedWordsAreMarked) {
    const auto words = tokenize(R"(echo 1 > ">" \>)");
    ASSERT_TRUE(words.ok());
    ASSERT_EQ(words->size(), 5u);
    EXPECT_FALSE((*words)[2].quoted);
    EXPECT_TRUE((*words)[3].quoted);
    EXPECT_TRUE((*words)[4].quoted);
}

TEST(SplitStatements, SemicolonsOutsideQuotesSeparate) {
    const auto statements = split_statements(R"(insmod 8250; write ttyS0 "a;b" ; ;dmesg # x; y)");
    ASSERT_TRUE(statements.ok());
    ASSERT_EQ(statements->size(), 3u);
    EXPECT_EQ(texts(*tokenize((*statements)[1])), (std::vector<std::string>{"write", "ttyS0", "a;b"}));
    EXPECT_EQ(texts(*tokenize((*statements)[2])), (std::vector<std::string>{"dmesg"}));
    EXPECT_FALSE(split_statements(R"(echo "a; b)").ok());
    EXPECT_EQ(split_statements(R"(echo a\;b)")->size(), 1u);
}

TEST(EscapeForDisplay, RoundTripsThroughUnescape) {
    const std::string bytes("hi\r\n\t\"\\\x01\xff~", 10);
    const auto shown = escape_for_display(bytes);
    EXPECT_EQ(shown, R"(hi\r\n\t\"\\\x01\xff~)");
    EXPECT_EQ(*unescape(shown), bytes);
}

}  // namespace
}  // namespace lab
