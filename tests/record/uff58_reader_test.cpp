// Universal files built by hand, line by line, from the layout of dataset 58:
// the reader must find every time response and its values, skip everything
// else by the rules of the format, and refuse what it cannot read, naming it.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "record/format_readers.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::error_of;

const char* const delimiter = "    -1\n";

// Records 1 to 11 of a time response in G against seconds.  Record 7 takes
// its numbers as text, spelled as a writer would.
std::string header(const std::string& id1, const std::string& record7, int function_type = 1,
                   const std::string& entity = "A101Z") {
    char r6[100];
    std::snprintf(r6, sizeof r6, "%5d%10d%5d%10d %-10s%10d%4d %-10s%10d%4d\n", function_type, 0, 0, 0, entity.c_str(), 101, 3,
                  "NONE", 0, 0);
    return id1 + "\nNONE\n01-Jan-25 12:00:00\nNONE\nNONE\n" + r6 + record7 + "\n" +
           "        17    0    0    0 Time                 s\n"
           "        12    0    0    0 Acceleration         G\n"
           "         0    0    0    0 NONE                 NONE\n"
           "         0    0    0    0 NONE                 NONE\n";
}

std::string ascii58(const std::string& id1, const std::string& record7, const std::string& data, int function_type = 1) {
    return std::string(delimiter) + "    58\n" + header(id1, record7, function_type) + data + delimiter;
}

template <class T>
std::string raw_bytes(const std::vector<T>& values, bool little_endian) {
    std::string out;
    for (const T v : values) {
        char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
        if (!little_endian) std::reverse(b, b + sizeof(T));
        out.append(b, sizeof(T));
    }
    return out;
}

std::string binary58(const std::string& id1, const std::string& record7, const std::string& payload, int byte_order = 1,
                     int float_format = 2) {
    char id[100];
    std::snprintf(id, sizeof id, "%6d%c%6d%6d%12d%12zu%6d%6d%12d%12d\n", 58, 'b', byte_order, float_format, 11,
                  payload.size(), 0, 0, 0, 0);
    return std::string(delimiter) + id + header(id1, record7) + payload + delimiter;
}

std::vector<ChannelRecord> parsed(const std::string& text, const RecordRequest& request = {},
                                  const std::string& selector = "") {
    return parse_uff58_records(text, "t.uff", selector, request);
}

std::string refusal(const std::string& text, const RecordRequest& request = {}) {
    return error_of([&] { parsed(text, request); });
}

RecordRequest channels(std::vector<std::string> names) {
    RecordRequest request;
    request.channels = std::move(names);
    return request;
}

const char* const single_even_7 = "         2         7         1  0.00000E+00  1.00000E-04  0.00000E+00";
const char* const single_data_7 =
    "  0.00000E+00  6.29931E+00  1.21500E+01  1.71975E+01  2.11409E+01  2.37515E+01\n"
    " -2.50000E+00\n";

TEST(Uff58Reader, AsciiSingleEvenSixToALine) {
    const std::vector<ChannelRecord> r = parsed(ascii58("Acceleration 101+Z", single_even_7, single_data_7));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].name, "t.uff:Acceleration 101+Z");
    EXPECT_EQ(r[0].record.samples, (std::vector<double>{0.0, 6.29931, 12.15, 17.1975, 21.1409, 23.7515, -2.5}));
    EXPECT_DOUBLE_EQ(r[0].record.sample_rate, 1e4);
    EXPECT_EQ(r[0].record.start_time, 0.0);
}

// 4E20.12 with CR LF line ends, a delimiter padded to 80 columns, Fortran 'D'
// exponents, three-digit exponents, a negative number filling its field so
// that it runs into the one before, and the last line padded with zeros.
TEST(Uff58Reader, AsciiDoubleInTheSpellingsWritersUse) {
    std::string text = std::string("    -1") + std::string(74, ' ') + "\r\n    58\r\n";
    for (const char c : header("NONE", "         4         6         1 -1.00000E-03  5.00000E-04  0.00000E+00", 1, "A7")) {
        text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    text += "  1.234567890123D+00 -2.000000000000E+000-3.500000000000E+00  4.000000000000e-01\r\n"
            "  5.000000000000E+00-6.000000000000E+000  0.000000000000E+00  0.000000000000E+00\r\n"
            "    -1\r\n";
    const std::vector<ChannelRecord> r = parsed(text);
    ASSERT_EQ(r.size(), 1u);
    // ID line 1 is NONE: the response entity names it.
    EXPECT_EQ(r[0].channel, "A7");
    EXPECT_EQ(r[0].record.samples, (std::vector<double>{1.234567890123, -2.0, -3.5, 0.4, 5.0, -6.0}));
    EXPECT_DOUBLE_EQ(r[0].record.sample_rate, 2000.0);
    EXPECT_EQ(r[0].record.start_time, -1e-3);
}

// Fortran drops the 'E' of a three-digit exponent: in a fixed field a sign
// after a digit starts the exponent.
TEST(Uff58Reader, ThreeDigitExponentWithoutItsLetter) {
    const std::vector<ChannelRecord> r = parsed(ascii58(
        "tiny", "         2         2         1  0.00000E+00  1.00000E-03  0.00000E+00", "  0.12345-100  1.00000E+00\n"));
    EXPECT_EQ(r[0].record.samples, (std::vector<double>{0.12345e-100, 1.0}));
}

// The double 0x3F0A312D20202020 (about 5e-5) is spelled "    -1\n?" in
// little-endian bytes: a reader that looked for the delimiter would cut the
// dataset there.  Followed by a 58b of big-endian singles.
TEST(Uff58Reader, BinaryPayloadsAreSkippedByTheirLength) {
    const double trap = std::bit_cast<double>(uint64_t{0x3F0A312D20202020});
    const std::vector<double> first{1.0, trap, -2.0, trap, 3.0};
    const std::vector<float> second{0.5f, -0.25f, 8.0f};
    const std::string text =
        binary58("first", "         4         5         1  0.00000E+00  1.00000E-04  0.00000E+00", raw_bytes(first, true)) +
        binary58("second", "         2         3         1  2.00000E+00  1.00000E-03  0.00000E+00",
                 raw_bytes(second, false), 2);
    ASSERT_NE(raw_bytes(first, true).find(delimiter), std::string::npos);
    const std::vector<ChannelRecord> r = parsed(text);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].record.samples, first);
    EXPECT_EQ(r[1].record.samples, (std::vector<double>{0.5, -0.25, 8.0}));
    EXPECT_EQ(r[1].record.start_time, 2.0);
}

TEST(Uff58Reader, LineEndsAfterABinaryPayloadAreTolerated) {
    const std::vector<double> values{1.0, 2.0};
    std::string text =
        binary58("noisy", "         4         2         1  0.00000E+00  1.00000E-04  0.00000E+00", raw_bytes(values, true));
    text.insert(text.size() - std::strlen(delimiter), "\r\n\n");
    EXPECT_EQ(parsed(text)[0].record.samples, values);
}

// Datasets of other numbers, ASCII and binary (its payload holding a
// delimiter too), and functions that are not time responses, are no records.
TEST(Uff58Reader, OnlyTimeResponsesAreRecords) {
    const std::string payload = raw_bytes(std::vector<double>{std::bit_cast<double>(uint64_t{0x3F0A312D20202020})}, true);
    char id2414[100];
    std::snprintf(id2414, sizeof id2414, "%6d%c%6d%6d%12d%12zu%6d%6d%12d%12d\n", 2414, 'b', 1, 2, 2, payload.size(), 0, 0,
                  0, 0);
    const std::string text = std::string(delimiter) + "   151\nmodel\ndescription\n" + delimiter + "\n" + delimiter +
                             "   164\n         1SI - mks (Newton)     2\n" + delimiter + delimiter + id2414 +
                             "line one\nline two\n" + payload + delimiter +
                             ascii58("FRF 1:2", single_even_7, single_data_7, 4) +
                             ascii58("x", single_even_7, single_data_7) +
                             ascii58("", "         2         7         1  0.00000E+00  1.00000E-04  0.00000E+00",
                                     single_data_7, 0);
    const std::vector<ChannelRecord> r = parsed(text);
    // The last is of general type with a time abscissa, and no name: the entity's.
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].channel, "x");
    EXPECT_EQ(r[1].channel, "A101Z");
    EXPECT_NE(refusal(text, channels({"FRF 1:2"})).find("dataset 'FRF 1:2' is a frequency response function (function type 4): not a record"),
              std::string::npos);
    EXPECT_EQ(parsed(text, channels({"2"}))[0].channel, "A101Z");
}

TEST(Uff58Reader, RepeatedNamesTakeTheirNumbers) {
    const std::string one = ascii58("ch", single_even_7, single_data_7);
    const std::vector<ChannelRecord> r = parsed(one + one);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].channel, "ch (1)");
    EXPECT_EQ(r[1].channel, "ch (2)");
}

TEST(Uff58Reader, ARateGivenReplacesTheFewDigitsOfTheIncrement) {
    const std::string text = ascii58("fast", "         2         7         1  0.00000E+00  1.95313E-05  0.00000E+00", single_data_7);
    RecordRequest exact;
    exact.text.sample_rate = 51200.0;
    EXPECT_EQ(parsed(text, exact)[0].record.sample_rate, 51200.0);
    RecordRequest other;
    other.text.sample_rate = 50000.0;
    EXPECT_NE(refusal(text, other).find("is sampled at 51199.8"), std::string::npos);
}

TEST(Uff58Reader, BadDatasetsAreRefusedNamingThem) {
    const std::string named = "dataset 'x' (dataset 58 number 1 (line 1))";
    EXPECT_EQ(refusal(ascii58("x", "         2         4         0  0.00000E+00  0.00000E+00  0.00000E+00",
                              "  0.00000E+00  1.00000E+00  1.00000E-03  2.00000E+00\n")),
              "\n Error: t.uff " + named + " is unevenly spaced (abscissa spacing 0): only evenly sampled records are read \n");
    EXPECT_NE(refusal(ascii58("x", "         5         2         1  0.00000E+00  1.00000E-03  0.00000E+00",
                              "  1.00000E+00  0.00000E+00  2.00000E+00  0.00000E+00\n"))
                  .find(named + " is complex"),
              std::string::npos);
    EXPECT_NE(refusal(ascii58("x", "         2         9         1  0.00000E+00  1.00000E-04  0.00000E+00", single_data_7))
                  .find("holds 7 values before its closing delimiter: its record 7 declares 9"),
              std::string::npos);
    EXPECT_NE(refusal(ascii58("x", "         2         7         1  0.00000E+00  0.00000E+00  0.00000E+00", single_data_7))
                  .find("abscissa increment of 0 sec"),
              std::string::npos);
    EXPECT_NE(refusal(ascii58("x", single_even_7, "  1.00000E+00  abc\n")).find("line 14: dataset 58 number 1 (line 1): 'abc' is not a number"),
              std::string::npos);
    // A header cut short, a binary count beyond the file, a format of IBM
    // floats, and no delimiter at the end.
    EXPECT_NE(refusal(std::string(delimiter) + "    58\nname\nNONE\n").find("ends inside a dataset's header"), std::string::npos);
    const std::string two = raw_bytes(std::vector<double>{1.0, 2.0}, true);
    std::string long_count = binary58("x", "         4         9         1  0.00000E+00  1.00000E-04  0.00000E+00", two);
    EXPECT_NE(refusal(long_count).find("declares 9 points, more than the file holds"), std::string::npos);
    EXPECT_NE(refusal(binary58("x", "         4         2         1  0.00000E+00  1.00000E-04  0.00000E+00", two, 1, 3))
                  .find("floating-point format 3 is not IEEE 754"),
              std::string::npos);
    std::string open = ascii58("x", single_even_7, single_data_7);
    open.resize(open.size() - std::strlen(delimiter));
    EXPECT_NE(refusal(open).find("ends without its closing delimiter"), std::string::npos);
    EXPECT_NE(refusal("    -1\n    58\n" + header("x", single_even_7) + single_data_7 + "    -1\n  garbage\n")
                  .find("'  garbage' stands where a dataset's delimiter"),
              std::string::npos);
    EXPECT_EQ(refusal(std::string(delimiter) + "   151\nx\n" + delimiter),
              "\n Error: t.uff holds no dataset 58 (a function at a node): no record \n");
}

}  // namespace
}  // namespace quorel
