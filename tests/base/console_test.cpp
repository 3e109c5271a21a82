#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>

#include "base/console.hpp"
#include "base/error.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

TEST(ConsoleTokens, IntegersAreWholeDecimalTokensClampedToInt32) {
    int32_t v = 0;
    EXPECT_TRUE(parse_int_token("42", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(parse_int_token("-7", v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(parse_int_token("+3", v));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(parse_int_token("99999999999999999999", v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(parse_int_token("-99999999999999999999", v));
    EXPECT_EQ(v, -2147483647 - 1);
    for (const char* bad : {"", "-", "1.0", "1e3", "12abc", "0x10", " 1"}) EXPECT_FALSE(parse_int_token(bad, v)) << bad;
}

TEST(ConsoleTokens, RealsAreWholeDecimalTokensFiniteAsFloats) {
    float v = 0.0f;
    struct Good {
        const char* token;
        float value;
    };
    for (const Good& g : {Good{"1", 1.0f}, Good{"-2.5", -2.5f}, Good{"+.5", 0.5f}, Good{"5.", 5.0f},
                          Good{"1e3", 1000.0f}, Good{"2.5E-1", 0.25f}, Good{"0.1", 0.1f}, Good{"3.4e38", 3.4e38f}}) {
        EXPECT_TRUE(parse_real_token(g.token, v)) << g.token;
        EXPECT_EQ(v, g.value) << g.token;
    }
    // Finite as a double but not as a float: 1e39 overflows single precision.
    for (const char* bad : {"", ".", "-", "e5", "1e", "1e+", "inf", "-inf", "nan", "infinity", "0x1p3", "1.0f", "1,5",
                            "--1", "1..2", "1e39", "-1e39", " 1", "1 "}) {
        EXPECT_FALSE(parse_real_token(bad, v)) << bad;
    }
}

std::string error_of(const std::function<void()>& read) {
    try {
        read();
    } catch (const QuorelError& error) {
        return error.what();
    }
    return "";
}

TEST(ConsoleAnswers, BadTokensEndOfInputAndFileNames) {
    testing::ScriptedConsole script("12 x7 3.5 1e39 slow 250 ");
    EXPECT_EQ(script.console.read_int(), 12);
    EXPECT_EQ(error_of([&] { script.console.read_int(); }), "\n Error: invalid answer 'x7' \n");
    EXPECT_EQ(script.console.read_real(), 3.5f);
    EXPECT_EQ(error_of([&] { script.console.read_real(); }), "\n Error: invalid answer '1e39' \n");
    // The ignorable real consumes the bad token; the next answer is read normally.
    EXPECT_EQ(script.console.read_real_or_ignore(), std::nullopt);
    EXPECT_EQ(script.console.read_real_or_ignore(), std::optional<float>(250.0f));
    EXPECT_EQ(error_of([&] { script.console.read_real_or_ignore(); }), "\n Error: unexpected end of input \n");
    EXPECT_EQ(error_of([&] { script.console.read_int(); }), "\n Error: unexpected end of input \n");

    const std::string longest(259, 'n');
    testing::ScriptedConsole names(longest + " " + std::string(260, 'n') + "\n");
    EXPECT_EQ(names.console.read_file_name(), longest);
    EXPECT_EQ(error_of([&] { names.console.read_file_name(); }), "\n Error: file name too long \n");
    EXPECT_EQ(error_of([&] { names.console.read_file_name(); }), "\n Error: unexpected end of input \n");
}

// An endless token (a file piped by mistake) must not be held in memory whole:
// past the limit it is read through and refused, and the next token is intact.
TEST(ConsoleAnswers, OverlongTokensAreRefusedAndSkipped) {
    const size_t limit = Console::max_answer_length;
    const std::string longest(limit, '7');
    const std::string overlong(limit + 1, '7');
    const std::string huge_name(1 << 20, 'n');
    testing::ScriptedConsole script(longest + " " + overlong + " 5 " + overlong + " 6.5 " + huge_name + " 9");
    EXPECT_EQ(script.console.read_int(), 2147483647);   // all digits: clamped
    EXPECT_EQ(error_of([&] { script.console.read_int(); }), "\n Error: answer too long \n");
    EXPECT_EQ(script.console.read_int(), 5);
    EXPECT_EQ(script.console.read_real_or_ignore(), std::nullopt);
    EXPECT_EQ(script.console.read_real(), 6.5f);
    EXPECT_EQ(error_of([&] { script.console.read_file_name(); }), "\n Error: file name too long \n");
    EXPECT_EQ(script.console.read_int(), 9);
}

// Standard output that takes nothing (a closed pipe, a full disk): the first
// print or question ends the run, instead of the run going on unseen.
TEST(ConsoleOutput, AnOutputThatFailsEndsTheRun) {
    struct Refusing : std::streambuf {
        int overflow(int) override { return traits_type::eof(); }
        std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
        int sync() override { return -1; }
    };
    const std::string refused = "\n Error: cannot write to standard output: ";
    for (const bool question : {false, true}) {
        Refusing buffer;
        std::ostream out(&buffer);
        std::istringstream in("5\n");
        Console console(in, out, [] { return 0; });
        const std::string error = error_of([&] {
            if (question) {
                console.read_int();
            } else {
                console.print("\n Enter the number of trials. \n");
            }
        });
        EXPECT_EQ(error.substr(0, refused.size()), refused) << question;
        if (question) {
            EXPECT_EQ(in.tellg(), 0) << "nothing is read after a failed prompt";
        }
    }
}

}  // namespace
}  // namespace quorel
