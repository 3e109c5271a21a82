#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/error.hpp"
#include "specification/spec_reader.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::read_file;
using testing::run_script;
using testing::ScriptedConsole;
using testing::TempDir;
using testing::write_file;

struct Loaded {
    SrsSpec spec;
    std::string printed;
    std::string error;   // the message of a fatal check, empty when the file was accepted
};

Loaded load(const std::string& content, const std::string& name = "spec.txt") {
    write_file(name, content);
    Loaded result;
    ScriptedConsole script("");
    try {
        load_spec_points(script.console, name, result.spec);
    } catch (const QuorelError& error) {
        result.error = error.what();
    }
    result.printed = script.printed();
    return result;
}

// n ascending points "10*(p+1) 1".
std::string ascending_points(int n) {
    std::string text;
    for (int p = 0; p < n; ++p) text += std::to_string(10 * (p + 1)) + " 1\n";
    return text;
}

TEST(SpecReader, PairsAreReadWhateverTheWhiteSpace) {
    TempDir dir;
    for (const char* content : {"10 1\n100 10\n2000 10\n", "10 1 100 10 2000 10", "10\t1\n100\t10\t2000\t10\n",
                                "10 1\r\n100 10\r\n2000 10\r\n", "  10\n1\n\n100   10 2000\r\n10"}) {
        const Loaded loaded = load(content);
        ASSERT_EQ(loaded.error, "") << content;
        EXPECT_EQ(loaded.printed, " File: spec.txt opened. \n");
        ASSERT_EQ(loaded.spec.input_count, 3) << content;
        EXPECT_EQ(loaded.spec.input_freq[0], 10.0f);
        EXPECT_EQ(loaded.spec.input_accel[0], 1.0f);
        EXPECT_EQ(loaded.spec.input_freq[1], 100.0f);
        EXPECT_EQ(loaded.spec.input_accel[1], 10.0f);
        EXPECT_EQ(loaded.spec.last_input_freq, 2000.0f);
        EXPECT_EQ(loaded.spec.last_input_accel, 10.0f);
    }
    // Exponent notation and fractions, read as floats.
    const Loaded loaded = load("1.5e1 2.5E-1\n3e2 .5\n");
    ASSERT_EQ(loaded.spec.input_count, 2);
    EXPECT_EQ(loaded.spec.input_freq[0], 15.0f);
    EXPECT_EQ(loaded.spec.input_accel[0], 0.25f);
    EXPECT_EQ(loaded.spec.input_freq[1], 300.0f);
    EXPECT_EQ(loaded.spec.input_accel[1], 0.5f);
}

// A token that is not a number never silently ends the list: a decimal
// comma, a unit or a comment would otherwise cut the specification short.
TEST(SpecReader, EveryTokenMustBeANumber) {
    TempDir dir;
    struct Case {
        std::string content;
        std::string line_and_token;
    };
    for (const Case& c : {Case{"10 9,4\n100 10\n", "line 1: '9,4'"}, Case{"10 9.4G\n", "line 1: '9.4G'"},
                          Case{"10 1\n80 75 # knee\n", "line 2: '#'"}, Case{"freq accel\n10 1\n", "line 1: 'freq'"},
                          Case{"10 1\r\n\r\n20 x\r\n", "line 3: 'x'"},
                          Case{"10 1\n\xEF\xBB\xBF" "20 2\n", "line 2: '?\?\?20'"},
                          Case{"10 1 " + std::string(50, 'a') + "\x01", "line 1: '" + std::string(40, 'a') + "'"},
                          Case{"10 \x7f\xC3\xA9\n", "line 1: '?\?\?'"},
                          Case{ascending_points(125) + "end", "line 126: 'end'"}}) {
        EXPECT_EQ(load(c.content).error, "\n Error: spec.txt " + c.line_and_token + " is not a number \n") << c.content;
    }
    // A byte order mark at the very start, hexadecimal and exponent forms are fine.
    const Loaded marked = load("\xEF\xBB\xBF" "0x1p3 1\n2e1 0x2\n");
    ASSERT_EQ(marked.error, "");
    ASSERT_EQ(marked.spec.input_count, 2);
    EXPECT_EQ(marked.spec.input_freq[0], 8.0f);
    EXPECT_EQ(marked.spec.input_accel[1], 2.0f);
    for (const char* empty : {"", " \r\n\t\v\f\n", "\xEF\xBB\xBF"}) {
        EXPECT_EQ(load(empty).error, "\n Error: no points in spec.txt \n");
    }
}

// omega_0 = 2 pi f_0 must exceed 3 rad/sec as a float: f_0 above 3 / (2 pi) = 0.477465 Hz.
TEST(SpecReader, LowestFrequencyTheSynthesisCannotRunIsRefused) {
    TempDir dir;
    EXPECT_EQ(load("0.4774 1\n10 1\n").error,
              "\n Error: lowest frequency 0.4774 Hz is below the 0.48 Hz that the synthesis supports \n");
    EXPECT_EQ(load("0.4775 1\n10 1\n").error, "");
}

// A bad point is named by its index from 0 and what is wrong with it.
TEST(SpecReader, BadPointIsReportedByItsIndexAndItsFault) {
    TempDir dir;
    struct Case {
        const char* content;
        const char* fault;
    };
    for (const Case& c : {Case{"0 1\n10 1\n", "0: frequency 0 is not a finite number above 0"},
                          Case{"-10 1\n20 1\n", "0: frequency -10 is not a finite number above 0"},
                          Case{"10 1\n20 0\n", "1: acceleration 0 is not a finite number above 0"},
                          Case{"10 1\n20 1\n30 -2\n", "2: acceleration -2 is not a finite number above 0"},
                          Case{"10 1\n20 1\n20 1\n", "2: frequency 20 Hz is not above the one before it, 20 Hz"},
                          Case{"10 1\n20 1\n15 1\n", "2: frequency 15 Hz is not above the one before it, 20 Hz"},
                          Case{"10 1\ninf 1\n", "1: frequency inf is not a finite number above 0"},
                          Case{"10 nan\n20 1\n", "0: acceleration nan is not a finite number above 0"},
                          Case{"10 1\n1e50 1\n", "1: frequency inf is not a finite number above 0"},
                          Case{"10 1\n20 1\n30 1\n40\n", "3: frequency 40 Hz has no acceleration after it"},
                          Case{"10 1\n5 1\n30 1\n40\n", "1: frequency 5 Hz is not above the one before it, 10 Hz"}}) {
        const std::string fault = c.fault;
        const std::string index = fault.substr(0, fault.find(':'));
        EXPECT_EQ(load(c.content).error,
                  "\n Error: bad point " + index + " in spec.txt" + fault.substr(index.size()) + " \n")
            << c.content;
    }
}

// Answers up to the file name; a run that gets further would ask for more.
TEST(SpecReader, FileErrorsEndTheRunBeforeTheOctaveQuestion) {
    TempDir dir;
    write_file("bad.txt", "10 1\n5 1\n");
    const std::string long_name(260, 'a');
    const std::string longest_name(259, 'b');
    struct Case {
        std::string name;
        std::string message;
    };
    for (const Case& c : {Case{"missing.txt", " Failed to open file: missing.txt (No such file or directory) \n"},
                          Case{long_name, "\n Error: file name too long \n"},
                          Case{longest_name, " Failed to open file: " + longest_name + " (File name too long) \n"},
                          Case{"bad.txt", " File: bad.txt opened. \n\n Error: bad point 1 in bad.txt: frequency 5 Hz is not above "
                                     "the one before it, 10 Hz \n"}}) {
        const auto outcome = run_script("1 " + c.name + " 1 1 0.05 1 1 1\n");
        EXPECT_EQ(outcome.status, 1) << c.name;
        ASSERT_GE(outcome.output.size(), c.message.size());
        EXPECT_EQ(outcome.output.substr(outcome.output.size() - c.message.size()), c.message);
        EXPECT_EQ(outcome.output.find("octave"), std::string::npos);
        EXPECT_EQ(testing::read_directory().size(), 1u) << c.name;   // bad.txt alone: nothing written
    }
    EXPECT_EQ(read_file("bad.txt"), "10 1\n5 1\n");
}

// Only a regular file can hold a specification.  A FIFO with no writer would
// otherwise block the run for ever at the open; a directory reads as empty.
TEST(SpecReader, OnlyARegularFileIsRead) {
    TempDir dir;
    std::filesystem::create_directory("folder");
    ASSERT_EQ(::mkfifo("pipe", 0600), 0);
    for (const std::string name : {"folder", "pipe"}) {
        const auto outcome = run_script("1 " + name + " 1 1 0.05 1 1 1\n");
        EXPECT_EQ(outcome.status, 1) << name;
        const std::string message = "\n Error: " + name + " is not a regular file \n";
        ASSERT_GE(outcome.output.size(), message.size());
        EXPECT_EQ(outcome.output.substr(outcome.output.size() - message.size()), message);
        EXPECT_TRUE(testing::read_directory().empty()) << name;
    }
}

}  // namespace
}  // namespace quorel
