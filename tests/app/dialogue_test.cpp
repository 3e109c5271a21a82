#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <cstdint>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "app/dialogue.hpp"
#include "base/random.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::RunOutcome;
using testing::ScriptedConsole;
using testing::TempDir;
using testing::write_file;

// The console texts of the dialogue, written out by hand.
const std::string banner = "\n quorel - SRS synthesis by wavelets \n\n Select SRS algorithm:\n 1=Kelly-Richman  2=Smallwood \n";
const std::string file_prompt =
    "\n\n\n The input SRS specification file must have two columns: \n\n   natural frequency(Hz) and SRS accel(G) "
    "\n\n The format is free, but no header lines allowed.\n\n\n Please enter the input filename. \n";
const std::string opened = " File: spec.txt opened. \n";
const std::string octave_prompt = "\n\n Enter octave spacing. \n 1= 1/3   2= 1/6   3= 1/12 \n";
const std::string format_prompt = "\n Enter damping format for SRS. \n 1= damping ratio   2= Q \n";
const std::string ratio_prompt = "\n Enter SRS damping ratio (typically 0.05) ";
const std::string q_prompt = "\n Enter SRS amplification factor Q (typically 10) ";
const std::string trials_prompt = "\n\n Enter the number of trials. \n";
const std::string units_prompt =
    "\n\n Enter units \n  1=English:  G,       in/sec, in   \n  2=metric:   G,       m/sec,  mm   "
    "\n  3=metric:   m/sec^2, m/sec,  mm  \n";
const std::string seed_prompt = "\n\n Enter arbitrary integer (1 to 1000) \n";
// The last specification frequency is 40 Hz: 400 samples/sec recommended.
const std::string rate_prompt = "\n\n Recommend sample rate >=      400 samples/sec\n\n Enter sample rate \n";
const std::string condition_prompt = "\n\n Select condition  \n 1=limit time history points   2=set duration \n";
const std::string points_prompt = "\n\n Enter the number of points \n";
// The first frequency is 10 Hz: 2 / 10 s recommended.
const std::string duration_prompt = "\n\n Enter duration (sec) \n (Recommend  0.200 or greater) \n";
const std::string key_wait = "\n\n Press any key to exit.\n";
const std::string rate_too_low = "\n Error: sample rate is too low \n";
// The first frequency is 10 Hz: three half-sines need more than 0.15 s.
std::string too_short(const std::string& duration) {
    return "\n\n Error: duration is too short: " + duration + " sec; 10 Hz needs more than 0.15 sec.\n\n";
}
const std::string header_top =
    "\n           Peak        Peak         Peak         \n Trial     Accel       Vel          Disp      T.Error      I.Error";
const std::string units_english = "\n           (G)         (in/sec)     (in)       \n";
const std::string units_metric_g = "\n           (G)         (m/sec)      (mm)       \n";
const std::string units_metric_si = "\n           (m/sec^2)   (m/sec)      (mm)       \n";

// One answer per question; a run of one trial on 400 samples by default.
struct Answers {
    std::string algorithm = "1";
    std::string file = "spec.txt";
    std::string octave = "1";
    std::string damping_format = "1";
    std::string damping = "0.05";
    std::string trials = "1";
    std::string units = "1";
    std::string seed = "1";
    std::string sample_rate = "400";
    std::string condition = "1";
    std::string size = "400";   // number of points, or duration in seconds

    std::vector<std::string> tokens() const {
        return {algorithm, file, octave, damping_format, damping, trials, units, seed, sample_rate, condition, size};
    }
    std::string text() const {
        std::string joined;
        for (const std::string& token : tokens()) joined += token + "\n";
        return joined;
    }
};

RunOutcome run(const std::string& answers) {
    write_file("spec.txt", "10 1\n40 4\n");
    RunOptions options;
    options.threads = 1;
    return testing::run_script(answers, options);
}
RunOutcome run(const Answers& answers) { return run(answers.text()); }

std::string tail(const std::string& text, size_t n) { return text.size() < n ? text : text.substr(text.size() - n); }

// The run stops at a fatal check: its message last, status 1, no key wait,
// and no file written: the folder holds its `files` as before.
void expect_fatal_in(const RunOutcome& outcome, const std::string& message, size_t files, const std::string& what = "") {
    EXPECT_EQ(outcome.status, 1) << what;
    EXPECT_EQ(tail(outcome.output, message.size()), message) << what;
    EXPECT_EQ(outcome.output.find(key_wait), std::string::npos) << what;
    EXPECT_EQ(testing::read_directory().size(), files) << what;
}
// ... with the specification alone in the folder.
void expect_fatal(const RunOutcome& outcome, const std::string& message, const std::string& what) {
    expect_fatal_in(outcome, message, 1u, what);
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(RunDialogue, PromptsInOrderUpToTheTimeGridLineThenTheTrialLogHeaders) {
    TempDir dir;
    const RunOutcome outcome = run(Answers{});
    // 1 / 400 in float prints as 0.0025; 400 samples of it last 1 s.
    const std::string expected = banner + file_prompt + opened + octave_prompt + format_prompt + ratio_prompt +
                                 trials_prompt + units_prompt + seed_prompt + rate_prompt + condition_prompt +
                                 points_prompt +
                                 "\n dt=   0.0025 sec   dur=  1.0000 sec  sr=      400 sample/sec  nt=400 \n";
    ASSERT_GE(outcome.output.size(), expected.size());
    EXPECT_EQ(outcome.output.substr(0, expected.size()), expected);
    const std::string headers = header_top + units_english;
    EXPECT_EQ(outcome.output.substr(expected.size(), 1 + headers.size()), "\n" + headers);
}

TEST(RunDialogue, QValueDurationPathAndUnreadableSampleRate) {
    TempDir dir;
    Answers answers;
    answers.algorithm = "2";
    answers.octave = "2";
    answers.damping_format = "3";   // anything but 1 asks for Q
    answers.damping = "10";
    answers.units = "3";
    answers.seed = "3";
    answers.sample_rate = "fast";   // consumed; the recommended 400 stays
    answers.condition = "2";
    answers.size = "0.5";
    const RunOutcome outcome = run(answers);
    const std::string expected = banner + file_prompt + opened + octave_prompt + format_prompt + q_prompt +
                                 trials_prompt + units_prompt + seed_prompt + rate_prompt + condition_prompt +
                                 duration_prompt +
                                 "\n dt=   0.0025 sec   dur=  0.5000 sec  sr=      400 sample/sec  nt=200 \n" + "\n" +
                                 header_top + units_metric_si;
    ASSERT_GE(outcome.output.size(), expected.size());
    EXPECT_EQ(outcome.output.substr(0, expected.size()), expected);
}

TEST(RunDialogue, TrialLogStartsWithThreeHeaderLinesOfTheUnitSystem) {
    struct Case {
        std::string units;
        std::string unit_line;
        size_t prompts;
    };
    for (const Case& c : {Case{"1", units_english, 1}, Case{"4 0 2", units_metric_g, 3}, Case{"3", units_metric_si, 1}}) {
        TempDir dir;
        Answers answers;
        answers.units = c.units;
        const RunOutcome outcome = run(answers);
        EXPECT_EQ(count_of(outcome.output, units_prompt), c.prompts) << c.units;
        EXPECT_NE(outcome.output.find(units_prompt + seed_prompt), std::string::npos) << c.units;
        const std::string log = read_file("trials.out");
        const std::string headers = header_top + c.unit_line;
        ASSERT_GE(log.size(), headers.size()) << c.units;
        EXPECT_EQ(log.substr(0, headers.size()), headers) << c.units;
        // After the headers: one line per trial, nothing else.
        const std::string rest = log.substr(headers.size());
        EXPECT_EQ(count_of(rest, "\n"), 1u) << c.units;
        EXPECT_EQ(rest.substr(0, 3), " 0 ") << c.units;
    }
}

TEST(RunDialogueErrors, InvalidAnswerEndsTheRun) {
    struct Case {
        std::string Answers::*field;
        std::string token;
        std::string condition = "1";
    };
    const Case cases[] = {{&Answers::algorithm, "K"},      {&Answers::octave, "1/3"},  {&Answers::damping_format, "one"},
                          {&Answers::damping, "nan"},      {&Answers::damping, "0x1p-4"}, {&Answers::damping, "1e39"},
                          {&Answers::trials, "1.0"},       {&Answers::units, "x"},     {&Answers::seed, "5e0"},
                          {&Answers::condition, "2.0"},    {&Answers::size, "400s"},   {&Answers::size, "inf", "2"}};
    for (const Case& c : cases) {
        TempDir dir;
        Answers answers;
        answers.condition = c.condition;
        answers.*(c.field) = c.token;
        expect_fatal(run(answers), "\n Error: invalid answer '" + c.token + "' \n", c.token);
    }
}

TEST(RunDialogueErrors, EndOfInputAtEveryQuestion) {
    Answers answers;
    answers.condition = "2";
    answers.size = "0.1";   // the whole script ends at "duration is too short"
    const std::vector<std::string> tokens = answers.tokens();
    for (size_t given = 0; given < tokens.size(); ++given) {
        TempDir dir;
        std::string script;
        for (size_t k = 0; k < given; ++k) script += tokens[k] + " ";
        expect_fatal(run(script), "\n Error: unexpected end of input \n", std::to_string(given) + " answers");
    }
}

TEST(RunParameterChecks, DampingMustLieFromZeroToBelowOne) {
    struct Case {
        std::string format;
        std::string value;
        std::string message;   // empty: accepted
    };
    const std::string above = "\n Error:  damping value must be < 1 \n";
    const std::string below = "\n Error:  damping value must be >= 0 \n";
    // A Q at or below 0.5 is named as such, not by the ratio it would give.
    const std::string low_q = "\n Error: Q must be above 0.5 \n";
    for (const Case& c : {Case{"1", "1", above}, Case{"1", "1.5", above}, Case{"1", "0.999", ""}, Case{"1", "0", ""},
                          Case{"1", "-0.01", below}, Case{"2", "0.5", low_q}, Case{"2", "0.51", ""},
                          Case{"2", "0", low_q}, Case{"2", "-10", low_q}, Case{"2", "10", ""}}) {
        TempDir dir;
        Answers answers;
        answers.damping_format = c.format;
        answers.damping = c.value;
        answers.sample_rate = "100";   // below 4 x 40 Hz: an accepted damping runs on to this check
        const std::string what = c.format + " " + c.value;
        const RunOutcome outcome = run(answers);
        if (c.message.empty()) {
            expect_fatal(outcome, rate_too_low, what);
            EXPECT_NE(outcome.output.find(trials_prompt), std::string::npos) << what;
        } else {
            expect_fatal(outcome, c.message, what);
            EXPECT_EQ(outcome.output.find(trials_prompt), std::string::npos) << what;
        }
    }
}

TEST(RunParameterChecks, TrialCountIsCutTo2000AndMustBeAtLeastOne) {
    const std::string warning = "\n Warning: number of trials reduced to 2000 \n";
    struct Case {
        std::string trials;
        bool warned;
        bool rejected;
    };
    for (const Case& c : {Case{"2000", false, false}, Case{"2001", true, false}, Case{"99999999999", true, false},
                          Case{"1", false, false}, Case{"0", false, true}, Case{"-3", false, true}}) {
        TempDir dir;
        Answers answers;
        answers.trials = c.trials;
        answers.sample_rate = "100";
        const RunOutcome outcome = run(answers);
        if (c.rejected) {
            expect_fatal(outcome, trials_prompt + "\n Error: number of trials must be at least 1 \n", c.trials);
            continue;
        }
        expect_fatal(outcome, rate_too_low, c.trials);
        const std::string shown = trials_prompt + (c.warned ? warning : "") + units_prompt;
        EXPECT_NE(outcome.output.find(shown), std::string::npos) << c.trials;
    }
}

TEST(TimeGridChecks, SampleRateOfAtLeastFourTimesTheLastFrequency) {
    {
        TempDir dir;
        Answers answers;
        answers.sample_rate = "159.99";
        expect_fatal(run(answers), rate_prompt + rate_too_low, "159.99");
    }
    TempDir dir;
    Answers answers;
    answers.sample_rate = "160";
    answers.condition = "2";
    answers.size = "0.1";
    const RunOutcome outcome = run(answers);
    EXPECT_EQ(outcome.status, 1);
    const std::string expected = duration_prompt +
                                 "\n dt=  0.00625 sec   dur=  0.1000 sec  sr=      160 sample/sec  nt=16 \n" +
                                 too_short("0.1") + key_wait;
    EXPECT_EQ(tail(outcome.output, expected.size()), expected);
}

TEST(TimeGridChecks, DurationTooShortEndsThroughTheKeyWaitWithoutTrialLog) {
    struct Case {
        std::string condition, size, grid_line, shown;
    };
    // 1.5 / 10 Hz = 0.15 s is the shortest duration refused.
    for (const Case& c :
         {Case{"2", "0.1", "\n dt=   0.0025 sec   dur=  0.1000 sec  sr=      400 sample/sec  nt=40 \n", "0.1"},
          Case{"2", "0.15", "\n dt=   0.0025 sec   dur=  0.1500 sec  sr=      400 sample/sec  nt=60 \n", "0.15"},
          Case{"1", "60", "\n dt=   0.0025 sec   dur=  0.1500 sec  sr=      400 sample/sec  nt=60 \n", "0.15"},
          Case{"7", "10", "\n dt=   0.0025 sec   dur=  0.0250 sec  sr=      400 sample/sec  nt=10 \n", "0.025"},
          Case{"0", "-5", "\n dt=   0.0025 sec   dur= -0.0125 sec  sr=      400 sample/sec  nt=-5 \n", "-0.0125"}}) {
        for (bool stale_log : {false, true}) {
            TempDir dir;
            if (stale_log) write_file("trials.out", "old\n");
            Answers answers;
            answers.condition = c.condition;
            answers.size = c.size;
            const RunOutcome outcome = run(answers);
            EXPECT_EQ(outcome.status, 1) << c.size;
            const std::string expected =
                (c.condition == "2" ? duration_prompt : points_prompt) + c.grid_line + too_short(c.shown) + key_wait;
            EXPECT_EQ(tail(outcome.output, expected.size()), expected) << c.condition << " " << c.size;
            if (stale_log) EXPECT_EQ(read_file("trials.out"), "old\n") << "an earlier log is left alone";
            else EXPECT_FALSE(file_exists("trials.out"));
        }
    }
}

// A history of 100 000 samples or more is cut to 99 999 with a warning, and
// the run goes on.
TEST(TimeGridChecks, SampleCountIsReducedTo99999AndTheRunGoesOn) {
    struct Case {
        std::string rate, condition, size;
        bool warned;
        std::string grid_line;
    };
    // 99 999 x dt, rounded to float: 99 999 x 0.0025 = 249.9975 s, 99 999 x 0.001 = 99.999 s.
    const std::string at_400 = "\n dt=   0.0025 sec   dur=249.9975 sec  sr=      400 sample/sec  nt=99999 \n";
    const std::string at_1000 = "\n dt=    0.001 sec   dur= 99.9990 sec  sr=     1000 sample/sec  nt=99999 \n";
    for (const Case& c : {Case{"400", "1", "99999", false, at_400}, Case{"400", "1", "100000", true, at_400},
                          Case{"400", "1", "99999999999", true, at_400}, Case{"1000", "2", "250", true, at_1000},
                          Case{"1000", "2", "1e30", true, at_1000},
                          // 250.001 s / 0.0025 s = 100000.4: the quotient reaches 100 000.
                          Case{"400", "2", "250.001", true, at_400},
                          // 249.99 s / 0.0025 s = 99996: kept.
                          Case{"400", "2", "249.99", false,
                               "\n dt=   0.0025 sec   dur=249.9900 sec  sr=      400 sample/sec  nt=99996 \n"}}) {
        TempDir dir;
        Answers answers;
        answers.sample_rate = c.rate;
        answers.condition = c.condition;
        answers.size = c.size;
        write_file("spec.txt", "10 1\n40 4\n");
        RunOptions options;
        options.threads = 1;
        options.stop_before_trials = true;
        const RunOutcome outcome = testing::run_script(answers.text(), options);
        EXPECT_EQ(outcome.status, 0) << c.size;
        const std::string expected = (c.condition == "2" ? duration_prompt : points_prompt) +
                                     (c.warned ? "\n\n Warning: duration reduced. \n" : "") + c.grid_line + "\n" +
                                     header_top;
        ASSERT_NE(outcome.output.find(expected), std::string::npos) << c.size << "\n" << outcome.output;
    }
}

TEST(TimeGridChecks, DurationPathTruncatesTheSampleCount) {
    // dt is the float nearest 0.001, slightly above it: 1 s holds 999 steps.
    TempDir dir;
    Answers answers;
    answers.sample_rate = "1000";
    answers.condition = "2";
    answers.size = "1";
    const std::string expected =
        duration_prompt + "\n dt=    0.001 sec   dur=  1.0000 sec  sr=     1000 sample/sec  nt=999 \n";
    const RunOutcome outcome = run(answers);
    const size_t at = outcome.output.find(duration_prompt);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(outcome.output.substr(at, expected.size()), expected);
    EXPECT_TRUE(file_exists("trials.out"));
}

// The sample rate is recommended and checked against the top of the grid that
// runs: 1 Hz to 2 kHz at 1/12 octave is cut to 125 points ending at
// 2^(124/12) = 1290 Hz, so 12 900 samples/sec are recommended and 5 200 (above
// 4 x 1290, below 4 x 2000) are accepted.
TEST(TimeGridChecks, SampleRatesFollowTheTopOfTheGridThatRuns) {
    TempDir dir;
    write_file("wide.txt", "1 1\n2000 1\n");
    Answers answers;
    answers.file = "wide.txt";
    answers.octave = "3";
    answers.sample_rate = "5200";
    answers.size = "12000";
    RunOptions options;
    options.stop_before_trials = true;
    const RunOutcome outcome = testing::run_script(answers.text(), options);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("\n\n Recommend sample rate >= 1.29e+04 samples/sec\n"), std::string::npos);
    EXPECT_NE(outcome.output.find("sr=     5200 sample/sec  nt=12000"), std::string::npos);
}

// A run at a terminal ends with status 0 whatever key ends it.
TEST(RunDialogue, AFinishedRunExitsZeroAfterTheKeyPress) {
    TempDir dir;
    write_file("spec.txt", "10 1\n40 4\n");
    std::istringstream in(Answers{}.text());
    std::ostringstream out;
    RunOptions options;
    options.clock = [] { return 0.0; };
    EXPECT_EQ(run_dialogue(in, out, [] { return 'a'; }, options), 0) << out.str();
    EXPECT_NE(out.str().find(key_wait), std::string::npos);
}

// A second run in a folder whose trial log is held by a running one fails at
// the trial log and changes nothing there.
TEST(RunDialogue, ASecondRunInTheSameFolderFailsAndChangesNothing) {
    TempDir dir;
    write_file("trials.out", "running\n");
    const int held = ::open("trials.out", O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const RunOutcome outcome = run(Answers{});
    ::close(held);
    expect_fatal_in(outcome, "\n Error: another run is using trials.out \n", 2u);
    EXPECT_EQ(read_file("trials.out"), "running\n");
}

// An earlier run's summary would pass for this run's: the dialogue removes it
// once it holds the trial log.  A run failing before that, at its answers,
// leaves the folder exactly as it was, that summary included.
TEST(RunDialogue, AnEarlierSummaryGoesOnceTheRunHoldsTheTrialLog) {
    TempDir dir;
    write_file("spec.txt", "10 1\n40 4\n");
    write_file("summary.json", "{\"trials\": 5}\n");
    write_file("trials.out", "earlier\n");
    const auto before = testing::read_directory();
    Answers failing;
    failing.damping = "2";
    expect_fatal_in(run(failing), "\n Error:  damping value must be < 1 \n", before.size());
    EXPECT_TRUE(testing::read_directory() == before);

    const RunOutcome finished = run(Answers{});
    EXPECT_EQ(finished.status, 0) << finished.output;
    EXPECT_FALSE(file_exists("summary.json"));
}

TEST(RunParameters, DampingUnitLabelsAndSeed) {
    struct Case {
        std::string answers;
        float damping;
        int32_t units;
        std::string accel, velocity, displacement;
    };
    for (const Case& c : {Case{"1 0.05 1 1 1", 0.05f, 1, "G", "in/sec", "inch"},
                          Case{"2 10 1 2 1", static_cast<float>(1.0 / 20.0), 2, "G", "m/sec", "mm"},
                          Case{"2 4 1 3 1", 0.125f, 3, "m/sec^2", "m/sec", "mm"}}) {
        ScriptedConsole script(c.answers);
        RunSettings settings;
        enter_run_parameters(script.console, settings);
        EXPECT_EQ(settings.damping, c.damping) << c.answers;
        EXPECT_EQ(static_cast<int32_t>(settings.units), c.units);
        EXPECT_EQ(std::string(unit_table(settings.units).accel), c.accel);
        EXPECT_EQ(std::string(unit_table(settings.units).velocity), c.velocity);
        EXPECT_EQ(std::string(unit_table(settings.units).displacement), c.displacement);
    }
    for (const int32_t seed : {5, 0, -7, 1000}) {
        ScriptedConsole script("1 0.05 1 1 " + std::to_string(seed));
        RunSettings settings;
        enter_run_parameters(script.console, settings);
        EXPECT_EQ(settings.seed, seed);
    }
}

TEST(RandomGenerator, FixedStartGivesFortyOneFirst) {
    // 1 * 214013 + 2531011 = 2745024, and 2745024 / 65536 = 41.9.
    RandomGenerator rng;
    EXPECT_EQ(next_random(rng), 41);
    EXPECT_EQ(rng.state, 2745024u);
    // Second step by hand: 2745024 * 214013 + 2531011 = 587473352323 = 136 * 2^32 + 3357800067,
    // and 3357800067 / 65536 = 51235.96: 51235 - 32768 = 18467.
    EXPECT_EQ(next_random(rng), 18467);
    EXPECT_EQ(rng.state, 3357800067u);
    RandomGenerator fresh;
    EXPECT_EQ(random_unit(fresh), 41.0 / 32767.0);
}

// The discarded draws are skipped in O(log n); the state must be that of
// stepping one by one, from any state, including across the 2^32 wrap.
TEST(RandomGenerator, DiscardingSkipsExactlyLikeStepping) {
    for (const uint32_t start : {1u, 2745024u, 0xFFFFFFFFu}) {
        for (const int32_t seed : {-7, 0, 1, 2, 3, 5, 1000, 65537, 1234567}) {
            RandomGenerator skipped{start};
            discard_draws(skipped, seed);
            RandomGenerator stepped{start};
            for (int32_t k = 1; k < seed; ++k) next_random(stepped);
            EXPECT_EQ(skipped.state, stepped.state) << start << " " << seed;
        }
    }
    // The period is the full 2^32 (odd increment, multiplier - 1 divisible by
    // 4): 2^31 - 2 discards twice and 4 more come back to the start.
    RandomGenerator around;
    discard_draws(around, 2147483647);
    discard_draws(around, 2147483647);
    discard_draws(around, 5);
    EXPECT_EQ(around.state, 1u);
}

}  // namespace
}  // namespace quorel
