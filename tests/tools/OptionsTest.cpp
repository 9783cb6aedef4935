// The option parser every qeladmin command judges its words with.
#include <gtest/gtest.h>

#include "tools/qeladmin/Options.h"

namespace {

const std::vector<OptionSpec> kSpecs = {{"tag", true}, {"list", false}};

TEST(Options, PositionalValuesAndSwitchesInAnyOrder) {
    const ParsedArgs p = ParseArgs({"--list", "a", "--tag=T1", "-", "--tag", "T2"}, kSpecs, 2, 2);
    EXPECT_EQ(p.Positional, (std::vector<std::string>{"a", "-"}));
    EXPECT_EQ(p.Value("tag"), "T2");
    EXPECT_EQ(p.InOrder.size(), 2u);
    EXPECT_TRUE(p.Has("list"));
}

TEST(Options, DoubleDashEndsTheOptions) {
    const ParsedArgs p = ParseArgs({"--", "--list"}, kSpecs, 1, 1);
    EXPECT_EQ(p.Positional, std::vector<std::string>{"--list"});
    EXPECT_FALSE(p.Has("list"));
}

struct Refused {
    std::vector<std::string> words;
    std::string says;
};
class OptionsRefused : public ::testing::TestWithParam<Refused> {};
TEST_P(OptionsRefused, WithAMessageNamingTheWord) {
    try {
        ParseArgs(GetParam().words, kSpecs, 1, 1);
        FAIL() << "accepted";
    } catch (const EUsageError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().says), std::string::npos) << e.what();
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, OptionsRefused, ::testing::Values(
    Refused{{"a", "--bogus"}, "--bogus"},
    Refused{{"a", "-x"}, "-x"},
    Refused{{"a", "--tag"}, "--tag needs a value"},
    Refused{{"a", "--list=yes"}, "--list takes no value"},
    Refused{{}, "too few"},
    Refused{{"a", "b"}, "too many"}));

TEST(Options, NumbersAreWholeAndInRange) {
    const std::vector<OptionSpec> specs = {{"n", true}};
    EXPECT_EQ(ParseArgs({"--n", "7"}, specs, 0, 0).Number("n", 0, 10), 7);
    EXPECT_EQ(ParseArgs({}, specs, 0, 0).Number("n", 0, 10), std::nullopt);
    for (const char* bad : {"11", "-1", "7x", "", "many"})
        EXPECT_THROW(ParseArgs({"--n", bad}, specs, 0, 0).Number("n", 0, 10), EUsageError) << bad;
}

TEST(Options, HelpAndVersionBeforeDoubleDash) {
    EXPECT_TRUE(AsksForHelp({"DIR", "--help"}));
    EXPECT_TRUE(AsksForHelp({"-h"}));
    EXPECT_FALSE(AsksForHelp({"--", "--help"}));
    EXPECT_TRUE(AsksForVersion({"--version"}));
    EXPECT_FALSE(AsksForVersion({"DIR"}));
}

}  // namespace
