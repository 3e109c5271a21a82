#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "acceptance/acceptance.hpp"

namespace quorel {
namespace {

std::string parse_failure(const std::string& text) {
    try {
        parse_acceptance("rules.toml", text);
    } catch (const QuorelError& error) {
        return error.what();
    }
    return "accepted";
}

TEST(AcceptanceRules, ReadsBandsSharesRangesAndTheAboveNominalRule) {
    const AcceptanceRules rules = parse_acceptance("rules.toml", R"(
srs = "each"
[[band]]
low = -1.5
high = 3
min_share = 0.9
from_hz = 100
to_hz = 10000
[[band]]
low = -3
high = 6.0
[above_nominal]
min_share = 0.5
)");
    EXPECT_EQ(rules.points, SrsPoints::each);
    ASSERT_EQ(rules.bands.size(), 2u);
    EXPECT_EQ(rules.bands[0].low_db, -1.5);
    EXPECT_EQ(rules.bands[0].high_db, 3.0);
    EXPECT_EQ(rules.bands[0].min_share, 0.9);
    EXPECT_EQ(rules.bands[0].from_hz, 100.0);
    EXPECT_EQ(rules.bands[0].to_hz, 10000.0);
    EXPECT_EQ(rules.bands[1].min_share, 1.0) << "a band holds on every point unless told otherwise";
    EXPECT_FALSE(rules.bands[1].limited());
    EXPECT_EQ(rules.above_nominal_share, 0.5);
    EXPECT_EQ(parse_acceptance("r", "[[band]]\nlow=-3\nhigh=3\n").points, SrsPoints::maximax);
}

// Every fault names the file, the line and the key.
TEST(AcceptanceRules, FaultsNameTheFileTheLineAndTheKey) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"srs = \"peak\"\n", "rules.toml line 1: srs: must be \"maximax\" or \"each\""},
        {"[[band]]\nlow = 3\nhigh = 3\n", "rules.toml line 3: band[1].high: must be above low (low = 3, high = 3)"},
        {"[[band]]\nlow=-1\nhigh=1\n[[band]]\nlow=-2\nwidth=4\n", "rules.toml line 6: band[2].width: unknown key"},
        {"[[band]]\nlow = -1\n", "rules.toml line 1: band[1]: high is missing"},
        {"[[band]]\nlow=-1\nhigh=1\nmin_share=1.5\n", "rules.toml line 4: band[1].min_share: must be above 0 and at most 1"},
        {"[[band]]\nlow=-61\nhigh=1\n", "rules.toml line 2: band[1].low: -61 dB is beyond the 60 dB"},
        {"[[band]]\nlow='-1'\nhigh=1\n", "rules.toml line 2: band[1].low: must be a number"},
        {"[[band]]\nlow=-1\nhigh=1\nfrom_hz=500\nto_hz=100\n", "rules.toml line 5: band[1].to_hz: must not be below from_hz"},
        {"[above_nominal]\n", "rules.toml line 1: above_nominal: min_share is missing"},
        {"band = 3\n", "rules.toml line 1: band: must be tables, each headed [[band]]"},
        {"\nlow = -1\n", "rules.toml line 2: low: unknown key"},
        {"[[band]]\nlow = = 1\n", "rules.toml line 2: "},
        {"srs = \"each\"\n", "rules.toml: no [[band]] and no [above_nominal]: nothing to judge"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(parse_failure(c.text).find(c.message), std::string::npos) << c.text << "\n" << parse_failure(c.text);
    }
}

// Four frequencies against a flat 10 G specification, margins by hand:
//   positive 10, 12, 10^(2/20) x 10, 20 -> 0, +1.584, +2 (exactly on a +2 edge), +6.021 dB
//   negative  9, 10, 10, 10             -> -0.915, 0, 0, 0 dB
struct Spectra {
    std::vector<double> freq{100, 200, 400, 800}, spec{10, 10, 10, 10};
    std::vector<double> positive{10, 12, 10.0 * std::pow(10.0, 2.0 / 20.0), 20}, negative{9, 10, 10, 10};
    SrsComparison srs() const { return {freq, spec, positive, negative}; }
};

TEST(AcceptanceRules, JudgeSharesRangesPolaritiesAndTheNominal) {
    const Spectra s;
    AcceptanceRules rules;
    rules.bands = {{-1.0, 2.0, 1.0}};
    // Maximax: 10, 12, 12.59, 20 -> 0, +1.58, +2 inside; +6.02 outside.
    EXPECT_EQ(judge_band(rules, rules.bands[0], s.srs()).inside, 3);
    EXPECT_EQ(judge_band(rules, rules.bands[0], s.srs()).total, 4);
    EXPECT_FALSE(passes_acceptance(rules, s.srs()));
    rules.bands[0].min_share = 0.75;   // 3 of 4 is exactly enough
    EXPECT_TRUE(passes_acceptance(rules, s.srs()));
    rules.bands[0].min_share = 0.76;
    EXPECT_FALSE(passes_acceptance(rules, s.srs()));

    // Each polarity: the negative 9 G (-0.915 dB) is inside, 7 of 8.
    rules.points = SrsPoints::each;
    EXPECT_EQ(judge_band(rules, rules.bands[0], s.srs()).inside, 7);
    EXPECT_EQ(judge_band(rules, rules.bands[0], s.srs()).total, 8);
    // A range leaves 800 Hz out: 6 of 6.
    rules.bands[0] = {-1.0, 2.0, 1.0, 100.0, 400.0};
    EXPECT_EQ(judge_band(rules, rules.bands[0], s.srs()).inside, 6);
    EXPECT_TRUE(passes_acceptance(rules, s.srs()));

    // At or above nominal: every maximax point; 7 of 8 polarities (not the 9 G).
    rules.above_nominal_share = 0.9;
    EXPECT_FALSE(passes_acceptance(rules, s.srs()));
    const AcceptanceVerdict each = judge_acceptance(rules, s.srs());
    EXPECT_EQ(each.above_nominal->inside, 7);
    EXPECT_FALSE(each.pass);
    rules.points = SrsPoints::maximax;
    const AcceptanceVerdict maximax = judge_acceptance(rules, s.srs());
    EXPECT_EQ(maximax.above_nominal->inside, 4);
    EXPECT_TRUE(maximax.pass);
    const std::string lines = verdict_lines(rules, maximax, "  ");
    EXPECT_EQ(lines.find("  Band -1/+2 dB 100-400 Hz "), 0u) << lines;
    EXPECT_NE(lines.find("   3 of    3 points inside  (100.0 %, at least 100.0 %)   PASS \n"), std::string::npos) << lines;

    // A band that covers none of the frequencies can never be judged.
    rules.bands[0].from_hz = 1000.0;
    rules.bands[0].to_hz = 2000.0;
    EXPECT_THROW(check_band_ranges(rules, s.freq), QuorelError);
}

// A band may judge one frequency alone: from_hz = to_hz is a range.
TEST(AcceptanceRules, ASingleFrequencyBandIsAcceptedAndJudged) {
    const AcceptanceRules rules =
        parse_acceptance("rules.toml", "[[band]]\nlow = -1\nhigh = 1\nfrom_hz = 200\nto_hz = 200\n");
    ASSERT_EQ(rules.bands.size(), 1u);
    EXPECT_EQ(rules.bands[0].from_hz, 200.0);
    EXPECT_EQ(rules.bands[0].to_hz, 200.0);
    const Spectra s;
    EXPECT_NO_THROW(check_band_ranges(rules, s.freq));
    // Maximax 12 G at 200 Hz, +1.58 dB: the one point judged is outside.
    const ShareCount count = judge_band(rules, rules.bands[0], s.srs());
    EXPECT_EQ(count.total, 1);
    EXPECT_EQ(count.inside, 0);
    EXPECT_FALSE(passes_acceptance(rules, s.srs()));
}

// Every rule must pass: a failing band fails the verdict however well the
// above-nominal rule does.
TEST(AcceptanceRules, AFailingBandFailsTheVerdictWhenTheNominalRulePasses) {
    const Spectra s;
    AcceptanceRules rules;
    rules.bands = {{-1.0, 2.0, 1.0}};   // 3 of 4 maximax points inside: fails
    rules.above_nominal_share = 0.5;    // 4 of 4 at or above: passes
    const AcceptanceVerdict verdict = judge_acceptance(rules, s.srs());
    ASSERT_EQ(verdict.bands.size(), 1u);
    EXPECT_FALSE(verdict.bands[0].pass());
    ASSERT_TRUE(verdict.above_nominal);
    EXPECT_TRUE(verdict.above_nominal->pass());
    EXPECT_FALSE(verdict.pass);
    EXPECT_NE(verdict_lines(rules, verdict, "").find("Acceptance (, maximax): FAIL"), std::string::npos);
}

}  // namespace
}  // namespace quorel
