#include "record/record_reader.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/format.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::read_csv;
using testing::read_table;
using testing::run_script;
using testing::TempDir;
using testing::write_file;

Record parsed(const std::string& text, const RecordOptions& options = {}) {
    return parse_record(text, "record.csv", options);
}

// The message a refused record gives; empty when it was read.
std::string refusal(const std::string& text, const RecordOptions& options = {}) {
    try {
        parse_record(text, "record.csv", options);
    } catch (const QuorelError& error) {
        return error.what();
    }
    return "";
}

std::string file_refusal(const std::string& path, const RecordOptions& options = {}) {
    try {
        read_record(path, options);
    } catch (const QuorelError& error) {
        return error.what();
    }
    return "";
}

RecordOptions at_rate(double rate) {
    RecordOptions options;
    options.sample_rate = rate;
    return options;
}

// n lines "t,a" at 1 kHz from `start`, the acceleration k - 3.
std::string uniform_csv(int n, double start = 0.0, const char* separator = ",") {
    std::string text;
    for (int k = 0; k < n; ++k) text += format("%.9g%s%d\n", start + k * 1e-3, separator, k - 3);
    return text;
}

const std::vector<double> first_four{-3, -2, -1, 0};

// --- formats -----------------------------------------------------------------

TEST(RecordReader, TimeColumnGivesSamplesRateStartAndColumnNames) {
    const Record r = parsed("# drop test 7, axis z\ntime (sec),acceleration (G)\n" + uniform_csv(4, 0.25));
    EXPECT_EQ(r.samples, first_four);
    EXPECT_NEAR(r.sample_rate, 1000.0, 1e-9);
    EXPECT_EQ(r.start_time, 0.25);
    EXPECT_EQ(r.header_lines, 2);
    EXPECT_EQ(r.column_names, (std::vector<std::string>{"time (sec)", "acceleration (G)"}));
    EXPECT_EQ(r.file, "record.csv");
}

TEST(RecordReader, EverySeparatorKindReadsTheSameSamples) {
    for (const char* separator : {",", ";", "\t", " ", "  \t ", ", ", " ; "}) {
        SCOPED_TRACE(separator);
        const Record r = parsed(uniform_csv(4, 0.0, separator));
        EXPECT_EQ(r.samples, first_four);
        EXPECT_NEAR(r.sample_rate, 1000.0, 1e-9);
    }
    // Blank-separated lines may start and end with blanks.
    EXPECT_EQ(parsed("  0 \t 5 \n  0.5\t6  \n").samples, (std::vector<double>{5, 6}));
}

TEST(RecordReader, ByteOrderMarkAndCrlfLineEndsAreAccepted) {
    const Record r = parsed("\xEF\xBB\xBFtime;accel\r\n0;1.5\r\n0.001;-2e-3\r\n0.002;+4\r\n");
    EXPECT_EQ(r.samples, (std::vector<double>{1.5, -2e-3, 4}));
    EXPECT_EQ(r.column_names, (std::vector<std::string>{"time", "accel"}));
    EXPECT_EQ(parsed("\xEF\xBB\xBF" "0\t1\r\n1\t2").samples, (std::vector<double>{1, 2}));
}

TEST(RecordReader, WithASampleRateEveryLineIsOneSample) {
    const Record single = parsed("accel\n1\n2\n\n3\n", at_rate(5000.0));
    EXPECT_EQ(single.samples, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(single.sample_rate, 5000.0);
    EXPECT_EQ(single.start_time, 0.0);
    EXPECT_EQ(single.header_lines, 1);
}

// With a rate, no field of several is taken by default: neither a time
// column nor a number split at its decimal comma is judged.
TEST(RecordReader, WithASampleRateSeveralFieldsNeedAColumn) {
    EXPECT_EQ(refusal("t,a\n0,1.5\n0.001,2\n", at_rate(1000.0)),
              "\n Error: record.csv line 2: holds 2 fields ('0', '1.5'): with --sample-rate every line is one sample, so "
              "--column must say which field it is \n");
    EXPECT_EQ(refusal("1,1087\n-27,0876\n", at_rate(1000.0)),
              "\n Error: record.csv line 1: holds 2 fields ('1', '1087') that look like numbers written with a decimal "
              "comma: give --decimal-comma (or --column to read one field) \n");
    RecordOptions column = at_rate(10.0);
    column.column_number = 2;
    EXPECT_EQ(parsed("7 1\n9 2\n", column).samples, (std::vector<double>{1, 2}));
}

TEST(RecordReader, ColumnByNumberOrByNameWithOrWithoutItsUnit) {
    const std::string text = "time (sec),acceleration (G),velocity (in/sec)\n0,1,10\n0.5,2,20\n1,3,30\n";
    RecordOptions by_number;
    by_number.column_number = 3;
    EXPECT_EQ(parsed(text, by_number).samples, (std::vector<double>{10, 20, 30}));
    for (const char* name : {"velocity (in/sec)", "Velocity", "acceleration"}) {
        SCOPED_TRACE(name);
        RecordOptions by_name;
        by_name.column_name = name;
        EXPECT_EQ(parsed(text, by_name).samples[0], name[0] == 'a' ? 1.0 : 10.0);
    }
    EXPECT_NEAR(parsed(text, by_number).sample_rate, 2.0, 1e-12);
}

TEST(RecordReader, BlankLinesCountAsHeaderBeforeTheDataAndAreSkippedAfter) {
    const Record r = parsed("\n\ntime accel\n\n0 1\n\n 1 2\n  \t\n2 3\n\n");
    EXPECT_EQ(r.header_lines, 4);
    EXPECT_EQ(r.samples, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(r.column_names, (std::vector<std::string>{"time", "accel"}));
    // A hundred header lines are allowed.
    std::string hundred;
    for (int k = 0; k < 100; ++k) hundred += "note\n";
    EXPECT_EQ(parsed(hundred + "0 1\n1 2\n").header_lines, 100);
}

TEST(RecordReader, TimesOffTheirGridByLessThanHalfAStepAreUniform) {
    // Rounded to 1 us at 3 kHz: up to 0.15 of a step off.
    std::string text;
    for (int k = 0; k < 3000; ++k) text += format("%.6f,%d\n", k / 3000.0, k % 7);
    const Record r = parsed(text);
    EXPECT_EQ(r.samples.size(), 3000u);
    EXPECT_NEAR(r.sample_rate, 3000.0, 3000.0 * 1e-6);
    // One time 0.4 of a step late.
    EXPECT_EQ(refusal("0 1\n1 1\n2.4 1\n3 1\n4 1\n"), "");
}

TEST(RecordReader, QuorelsOwnAccelerationFileAndHistoryAreRecords) {
    TempDir dir;
    write_file("spec.txt", "100 10\n250 60\n500 60\n");
    RunOptions options;
    options.machine_readable = true;
    options.spec_file = "spec.txt";
    ASSERT_EQ(run_script("1 spec.txt 1 1 0.05 1 1 1 20000 1 2000\n", options).status, 0);
    const std::string accel_name = "accel_0.out", history_name = "history_0.csv";
    ASSERT_TRUE(testing::file_exists(accel_name) && testing::file_exists(history_name));

    const auto table = read_table(accel_name);
    const Record accel = read_record(accel_name, {});
    ASSERT_EQ(accel.samples.size(), table.size());
    for (size_t k = 0; k < table.size(); ++k) ASSERT_EQ(accel.samples[k], table[k][1]) << k;
    EXPECT_NEAR(accel.sample_rate, 20000.0, 20000.0 * 1e-6);
    EXPECT_EQ(accel.header_lines, 0);

    const auto csv = read_csv(history_name);
    const Record history = read_record(history_name, {});
    ASSERT_EQ(history.samples.size(), csv.size());
    for (size_t k = 0; k < csv.size(); ++k) ASSERT_EQ(history.samples[k], csv[k][1]) << k;
    EXPECT_NEAR(history.sample_rate, 20000.0, 20000.0 * 1e-6);
    EXPECT_EQ(history.header_lines, 1);
    ASSERT_EQ(history.column_names.size(), 4u);
    RecordOptions displacement;
    displacement.column_name = "displacement";
    EXPECT_EQ(read_record(history_name, displacement).samples.back(), csv.back()[3]);
}

TEST(RecordReader, AFileReadInChunksEqualsTheSameTextInMemory) {
    // Over 1 MiB, so that lines straddle the reader's chunks; no final line end.
    TempDir dir;
    std::string text = "time,accel\r\n";
    for (int k = 0; k < 60000; ++k) text += format("%.9g,%.17g\r\n", k * 1e-5, std::sin(k * 0.01) * 1e3);
    text += "0.6,1";
    write_file("big.csv", text);
    const Record from_file = read_record("big.csv", {});
    const Record from_memory = parse_record(text, "big.csv", {});
    EXPECT_EQ(from_file.samples, from_memory.samples);
    EXPECT_EQ(from_file.sample_rate, from_memory.sample_rate);
    EXPECT_EQ(from_file.samples.size(), 60001u);
}

// --- bad fields and lines ------------------------------------------------------

TEST(RecordReader, ABadFieldNamesItsLineFieldAndText) {
    EXPECT_EQ(refusal("t,a\n0,1\n1,2\n2,abc\n"), "\n Error: record.csv line 4, field 2: 'abc' is not a number \n");
    EXPECT_EQ(refusal("0,1\n,1\n"), "\n Error: record.csv line 2, field 1: '' is not a number \n");
    EXPECT_EQ(refusal("0 1\n1 2x\n"), "\n Error: record.csv line 2, field 2: '2x' is not a number \n");
    EXPECT_EQ(refusal("0 1\n1 inf\n"), "\n Error: record.csv line 2, field 2: 'inf' is not a finite number \n");
    EXPECT_EQ(refusal("0 1\nnan 2\n"), "\n Error: record.csv line 2, field 1: 'nan' is not a finite number \n");
    EXPECT_EQ(refusal("0 1\n1 1e999\n"), "\n Error: record.csv line 2, field 2: '1e999' is not a finite number \n");
    // Only the first 40 bytes are shown, and control and non-ASCII bytes as '?'.
    const std::string long_field = "\x01\xC3\xA9" + std::string(50, 'x');
    EXPECT_EQ(refusal("0 1\n1 " + long_field + "\n"),
              "\n Error: record.csv line 2, field 2: '???" + std::string(37, 'x') + "' is not a number \n");
}

TEST(RecordReader, EveryLineHoldsAsManyFieldsAsTheFirstLineOfNumbers) {
    EXPECT_EQ(refusal("t,a\n0,1\n1,2,3\n"), "\n Error: record.csv line 3: holds 3 fields, line 2 holds 2 \n");
    EXPECT_EQ(refusal("0 1 2\n1 2 3\n2 3\n"), "\n Error: record.csv line 3: holds 2 fields, line 1 holds 3 \n");
}

TEST(RecordReader, ADecimalCommaIsRefusedAsSuch) {
    for (const char* text : {"t;a\n0,0;1,5\n0,1;2,5\n", "0,0\t1,5\n0,1\t2,5\n", "0,0 1,5\n"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(refusal(text).find("decimal comma: the decimal point must be '.', or give --decimal-comma"),
                  std::string::npos)
            << refusal(text);
    }
    EXPECT_EQ(refusal("0;1.5\n1;2,5\n"), "\n Error: record.csv line 2, field 2: '2,5' is not a number: the decimal "
                                        "point must be '.', not a comma (or give --decimal-comma) \n");
}

// The same record with points and with decimal commas reads to the same
// samples, whatever separates its fields.
TEST(RecordReader, WithADecimalCommaTheCommaIsTheDecimalSeparator) {
    RecordOptions comma;
    comma.decimal_comma = true;
    const std::string dotted = "time (s);accel (G)\n0.5;1.1087\n0.501;-27.0876e-1\n0.502;+3\n";
    for (const char* separator : {";", "\t", " ", " ; "}) {
        SCOPED_TRACE(separator);
        std::string text;
        for (const char c : dotted) {
            text += c == '.' ? std::string(",") : c == ';' ? std::string(separator) : std::string(1, c);
        }
        const Record r = parsed(text, comma);
        EXPECT_EQ(r.samples, parsed(dotted).samples);
        EXPECT_EQ(r.sample_rate, parsed(dotted).sample_rate);
    }
    RecordOptions one_column = at_rate(1000.0);
    one_column.decimal_comma = true;
    EXPECT_EQ(parsed("1,1087\n27,0876\n", one_column).samples, (std::vector<double>{1.1087, 27.0876}));
    // A point then is no decimal separator (it may group thousands).
    EXPECT_EQ(refusal("1,5\n1.234\n", one_column), "\n Error: record.csv line 2, field 1: '1.234' is not a number: "
                                                  "with --decimal-comma the decimal separator is ',' \n");
}

TEST(RecordReader, QuotedNumbersAndATrailingSeparatorAreExportForms) {
    const Record plain = parsed("time,accel\n0,1.5\n0.001,-2\n0.002,4\n");
    for (const char* text : {"\"time\",\"accel\",\n\"0\",\"1.5\",\n\"0.001\",\"-2\",\n\"0.002\",\"4\",\n",
                             "time;accel;\r\n0;1.5;\r\n0.001; -2 ;\r\n0.002;\"4\" ;\r\n",
                             "\"time\" \"accel\"\n\"0\" \"1.5\"\n\"0.001\"\t\"-2\"\n0.002 \"4\"\n"}) {
        SCOPED_TRACE(text);
        const Record r = parsed(text);
        EXPECT_EQ(r.samples, plain.samples);
        EXPECT_EQ(r.sample_rate, plain.sample_rate);
        EXPECT_EQ(r.column_names, plain.column_names);
    }
    // One trailing separator; not two, nor an unclosed quote.
    EXPECT_EQ(refusal("0,1,\n1,2,,\n"), "\n Error: record.csv line 2, field 3: '' is not a number \n");
    EXPECT_EQ(refusal("0,1\n1,\"2\n"), "\n Error: record.csv line 2, field 2: '\"2' is not a number \n");
}

TEST(RecordReader, AnUnderflowReadsAsZeroOrSubnormalAndAnOverflowIsRefused) {
    const double tiny = parsed("0 1e-400\n1 4.9e-324\n").samples[0];
    EXPECT_TRUE(tiny == 0.0 || std::fpclassify(tiny) == FP_SUBNORMAL) << tiny;
    EXPECT_EQ(parsed("0 1e-400\n1 4.9e-324\n").samples[1], std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(refusal("0 1\n1 1e400\n"), "\n Error: record.csv line 2, field 2: '1e400' is not a finite number \n");
}

TEST(RecordReader, MoreThanAHundredHeaderLinesAreNotARecord) {
    std::string text;
    for (int k = 0; k < 101; ++k) text += "note\n";
    EXPECT_EQ(refusal(text + "0 1\n1 2\n"),
              "\n Error: record.csv holds no line of numbers in its first 100 lines: not a record \n");
    EXPECT_EQ(refusal("time,accel\nno numbers here\n"), "\n Error: record.csv holds no line of numbers \n");
}

TEST(RecordReader, EmptyBlankAndOneSampleRecordsAreRefused) {
    EXPECT_EQ(refusal(""), "\n Error: record.csv is empty \n");
    EXPECT_EQ(refusal("\n \r\n\t\n"), "\n Error: record.csv is empty \n");
    EXPECT_EQ(refusal("t,a\n0,1\n"), "\n Error: record.csv holds 1 sample: a record needs at least 2 \n");
    EXPECT_EQ(refusal("5\n", at_rate(100.0)), "\n Error: record.csv holds 1 sample: a record needs at least 2 \n");
}

// UTF-16 text of either byte order, with or without its byte order mark,
// from memory and from a file.
TEST(RecordReader, Utf16TextIsRefusedAsSuchNotAsBinary) {
    const std::string ascii = "time,accel\n0,1\n0.001,2\n";
    TempDir dir;
    for (const bool little : {true, false}) {
        for (const bool mark : {true, false}) {
            std::string text = mark ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
            for (const char c : ascii) text += little ? std::string{c, '\0'} : std::string{'\0', c};
            SCOPED_TRACE(format("little %d mark %d", little, mark));
            EXPECT_EQ(refusal(text), "\n Error: record.csv is UTF-16 text: save it as UTF-8 \n");
            write_file("wide.csv", text);
            EXPECT_EQ(file_refusal("wide.csv"), "\n Error: wide.csv is UTF-16 text: save it as UTF-8 \n");
        }
    }
}

TEST(RecordReader, BinaryTextAndOverlongLinesAreRefusedAtOnce) {
    EXPECT_EQ(refusal(std::string("0 1\n1 2\0\n", 9)),
              "\n Error: record.csv holds NUL bytes: a binary file, not a text record \n");
    const std::string longest = "0," + std::string(4094, '0');   // 4096 bytes
    EXPECT_EQ(refusal(longest + "\n1,0\n"), "");
    EXPECT_EQ(refusal("0,1\n" + longest + "0\n"),
              "\n Error: record.csv line 2: longer than 4096 bytes: not a text record \n");
}

// --- times -------------------------------------------------------------------

TEST(RecordReader, TimesMustIncrease) {
    EXPECT_EQ(refusal("0 1\n0.001 2\n0.001 3\n"),
              "\n Error: record.csv line 3: time 0.001 sec does not increase from 0.001 sec (a restart?): column 1 "
              "holds times that increase unless a sample rate is given \n");
    EXPECT_NE(refusal(uniform_csv(5) + uniform_csv(5)).find("line 6: time 0 sec does not increase"), std::string::npos);
}

TEST(RecordReader, AGapBreaksUniformSamplingAtTheLineAfterIt) {
    // 1 kHz with samples missing after line 100: ten of them, then just one
    // (within half a step of the mean grid, but a step of two).
    const auto with_gap = [](int missing) {
        std::string text;
        for (int k = 0; k < 200; ++k) text += format("%.9g,1\n", (k < 100 ? k : k + missing) * 1e-3);
        return text;
    };
    EXPECT_EQ(refusal(with_gap(10)), "\n Error: record.csv line 101: time 0.11 sec leaves the uniform sampling of the "
                                     "times before it (a gap or a restart): the record is not uniformly sampled \n");
    EXPECT_EQ(refusal(with_gap(1)), "\n Error: record.csv line 101: time 0.101 sec is 0.002 sec after the time before "
                                    "it, not within half a step of the mean step 0.00100502513 sec (a gap?): the "
                                    "record is not uniformly sampled \n");
}

TEST(RecordReader, ASlowDriftOffTheFinalGridIsNotUniform) {
    // Steps of 1 ms for 50 lines, then 1.03 ms: each step fits what came
    // before, but the first half ends up over half a step off the rate the
    // whole record gives.
    std::string text;
    double t = 0.0;
    for (int k = 0; k < 100; ++k, t += k <= 50 ? 1e-3 : 1.03e-3) text += format("%.9g 1\n", t);
    const std::string message = refusal(text);
    EXPECT_NE(message.find("more than half a step from its place at"), std::string::npos) << message;
    EXPECT_NE(message.find("the record is not uniformly sampled"), std::string::npos);
}

// --- columns and options -----------------------------------------------------

TEST(RecordReader, ASingleColumnNeedsASampleRate) {
    EXPECT_EQ(refusal("1\n2\n3\n"),
              "\n Error: record.csv has a single column and no time column: its sample rate must be given \n");
    EXPECT_EQ(refusal("1\n2\n", at_rate(0.0)),
              "\n Error: record.csv cannot be read at a sample rate of 0 Hz: it must be above zero \n");
    EXPECT_NE(refusal("1\n2\n", at_rate(NAN)).find("must be above zero"), std::string::npos);
}

TEST(RecordReader, AColumnMustExistAndNotBeTheTimes) {
    RecordOptions number;
    number.column_number = 3;
    EXPECT_EQ(refusal("0,1\n1,2\n", number), "\n Error: record.csv has no column 3: its lines hold 2 fields \n");
    number.column_number = 1;
    EXPECT_EQ(refusal("0,1\n1,2\n", number),
              "\n Error: record.csv has its times in column 1: the acceleration is another column \n");
    EXPECT_EQ(parsed("0,1\n1,2\n", [] {
                  RecordOptions o = at_rate(2.0);
                  o.column_number = 1;
                  return o;
              }()).samples,
              (std::vector<double>{0, 1}));

    RecordOptions name;
    name.column_name = "accel";
    EXPECT_EQ(refusal("0,1\n1,2\n", name),
              "\n Error: record.csv has no header line naming its columns, so no column 'accel' \n");
    EXPECT_EQ(refusal("time,velocity\n0,1\n1,2\n", name),
              "\n Error: record.csv has no column named 'accel' (its columns: 'time', 'velocity') \n");
    EXPECT_EQ(refusal("time,Accel (G),ACCEL (m/s2)\n0,1,2\n1,2,3\n", name),
              "\n Error: record.csv has 2 columns that 'accel' could name (its columns: 'time', 'Accel (G)', 'ACCEL "
              "(m/s2)') \n");
    EXPECT_EQ(refusal("time,x,y,accel\n0,1\n1,2\n", name),
              "\n Error: record.csv names column 4 'accel', but its lines hold 2 fields \n");
    name.column_number = 2;
    EXPECT_EQ(refusal("time,accel\n0,1\n1,2\n", name),
              "\n Error: record.csv needs its column by number or by name, not both \n");
}

// --- files -------------------------------------------------------------------

TEST(RecordReader, OnlyANonEmptyRegularFileIsRead) {
    TempDir dir;
    ASSERT_EQ(::mkfifo("fifo", 0600), 0);
    std::filesystem::create_directory("folder");
    write_file("empty.csv", "");
    EXPECT_EQ(file_refusal("fifo"),
              "\n Error: fifo is not a regular file (a FIFO, a device or a socket), not a record \n");
    EXPECT_EQ(file_refusal("/dev/zero"),
              "\n Error: /dev/zero is not a regular file (a FIFO, a device or a socket), not a record \n");
    EXPECT_EQ(file_refusal("folder"), "\n Error: folder is a directory, not a record \n");
    EXPECT_EQ(file_refusal("empty.csv"), "\n Error: empty.csv is empty \n");
    EXPECT_EQ(file_refusal("missing.csv"), "\n Error: missing.csv cannot be opened: No such file or directory \n");
}

TEST(RecordReader, AFileIsRefusedForItsFirstNulOrOverlongLineBeforeItIsParsed) {
    // The bad line comes after the first chunk and after a bad number: the
    // first pass refuses the file before the second would parse that number.
    TempDir dir;
    const std::string lines = "0,oops\n" + std::string(2 << 20, '\n');
    write_file("binary.csv", lines + std::string("1\0", 2));
    write_file("long.csv", lines + std::string(5000, '7'));
    EXPECT_EQ(file_refusal("binary.csv"), "\n Error: binary.csv holds NUL bytes: a binary file, not a text record \n");
    EXPECT_EQ(file_refusal("long.csv"),
              format("\n Error: long.csv line %d: longer than 4096 bytes: not a text record \n", (2 << 20) + 2));
}

}  // namespace
}  // namespace quorel
