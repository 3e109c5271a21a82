// MATLAB files: one built byte by byte (a v5 header and one miMATRIX
// element), the others written by libmatio in v5, compressed v5 and v7.3.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "record/format_writers.hpp"
#include "record/record_formats.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::error_of;
using testing::le;
using testing::TempDir;
using testing::write_file;

std::string padded8(std::string s) {
    s.resize((s.size() + 7) / 8 * 8, '\0');
    return s;
}

// A v5 file of one rows x columns double matrix: the 128-byte header (text,
// subsystem offset, version 0x0100, "IM"), then miMATRIX (14) holding the
// array flags (miUINT32, class 6 = double), the dimensions (miINT32), the
// name (miINT8) and the real part (miDOUBLE, 9).
std::string v5_double(const std::string& name, uint32_t rows, uint32_t columns, const std::vector<double>& values) {
    std::string header = "MATLAB 5.0 MAT-file, written by hand";
    header.resize(116, ' ');
    header += std::string(8, '\0') + le(0x0100, 2) + "IM";
    std::string body = le(6, 4) + le(8, 4) + le(6, 4) + le(0, 4);
    body += le(5, 4) + le(8, 4) + le(rows, 4) + le(columns, 4);
    body += le(1, 4) + le(name.size(), 4) + padded8(name);
    std::string data;
    for (const double v : values) data += le(std::bit_cast<uint64_t>(v), 8);
    body += le(9, 4) + le(data.size(), 4) + data;
    return header + le(14, 4) + le(body.size(), 4) + body;
}

std::vector<ChannelRecord> read(const std::string& argument, const RecordRequest& request) {
    return read_records(argument, request);
}

RecordRequest at_rate(double rate, std::vector<std::string> channels = {}) {
    RecordRequest r;
    r.text.sample_rate = rate;
    r.channels = std::move(channels);
    return r;
}

TEST(MatReader, AFileWrittenByHand) {
    TempDir dir;
    write_file("hand.mat", v5_double("acc", 4, 1, {1.5, -2.0, 0.25, 1e-300}));
    const std::vector<ChannelRecord> r = read("hand.mat", at_rate(500.0));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].name, "hand.mat:acc");
    EXPECT_EQ(r[0].record.samples, (std::vector<double>{1.5, -2.0, 0.25, 1e-300}));
    EXPECT_EQ(r[0].record.sample_rate, 500.0);
    // A 2 x 3 matrix: each column a channel of 2 samples, in MATLAB's column order.
    write_file("matrix.mat", v5_double("m", 2, 3, {1, 2, 3, 4, 5, 6}));
    const std::vector<ChannelRecord> m = read("matrix.mat", at_rate(500.0));
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[1].name, "matrix.mat:m:2");
    EXPECT_EQ(m[1].record.samples, (std::vector<double>{3, 4}));
    EXPECT_EQ(read("matrix.mat:m:3", at_rate(500.0))[0].record.samples, (std::vector<double>{5, 6}));
}

TEST(MatReader, EveryVersionReadsTheSameSamples) {
    TempDir dir;
    const std::vector<double> a{0.5, -1.25, 3.0, 1e-3, -7.5};
    // Its first field long enough that, compressed, the headers of the fields
    // after it lie many blocks into the inflated stream, which the reader's
    // check of the headers follows.
    std::vector<double> long_field(200000);
    for (size_t k = 0; k < long_field.size(); ++k) long_field[k] = std::sin(0.37 * static_cast<double>(k));
    const std::vector<MatVariable> variables{
        {"accel", a, 5, 1, false, false, {}},
        {"fs", {2048.0}, 1, 1, false, false, {}},
        {"run", {}, 0, 0, false, false,
         {{"long", long_field, long_field.size(), 1, false, false, {}},
          {"rate", {1024.0}, 1, 1, false, false, {}},
          {"z", {1, 2, 3}, 1, 3, true, false, {}}}},
        {.name = "units", .text = "m/sec^2"},
    };
    for (const auto& [file, version] : {std::pair{"v5.mat", MatVersion::v5}, std::pair{"v5z.mat", MatVersion::v5_compressed},
                                        std::pair{"v73.mat", MatVersion::v73}}) {
        SCOPED_TRACE(file);
        write_mat(file, variables, version);
        RecordRequest by_variable;
        by_variable.rate_variable = "fs";
        // Two candidates (accel and the struct's field): the one asked for.
        by_variable.channels = {"accel"};
        const std::vector<ChannelRecord> r = read(file, by_variable);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].record.samples, a);
        EXPECT_EQ(r[0].record.sample_rate, 2048.0);
        // A struct field, single precision, its rate from another field.
        RecordRequest field;
        field.rate_variable = "run.rate";
        field.channels = {"run.z"};
        const std::vector<ChannelRecord> z = read(file, field);
        ASSERT_EQ(z.size(), 1u);
        EXPECT_EQ(z[0].name, std::string(file) + ":run.z");
        EXPECT_EQ(z[0].record.samples, (std::vector<double>{1, 2, 3}));
        EXPECT_EQ(z[0].record.sample_rate, 1024.0);
        EXPECT_EQ(read(file, at_rate(10.0, {"all"})).size(), 3u);
        // Text is stored as a char array, which is no record.
        EXPECT_EQ(error_of([&] { read(file, at_rate(10.0, {"units"})); }),
                  std::string("\n Error: ") + file + " variable 'units' holds text: not a record \n");
    }
}

TEST(MatReader, WhatIsNoRecordIsRefusedNamingIt) {
    TempDir dir;
    write_mat("odd.mat",
              {{"a", {1, 2, 3}, 3, 1, false, false, {}},
               {"b", {4, 5, 6}, 3, 1, false, false, {}},
               {"c", {1, 2}, 2, 1, false, true, {}},
               {"fs", {100.0}, 1, 1, false, false, {}},
               {"bad_rate", {-5.0}, 1, 1, false, false, {}}},
              MatVersion::v5);
    EXPECT_EQ(error_of([] { read("odd.mat", at_rate(1.0)); }),
              "\n Error: odd.mat holds 2 variables that could be records ('a', 'b'): choose with --channel (a name, a "
              "number or all) \n");
    EXPECT_EQ(error_of([] { read("odd.mat", at_rate(1.0, {"c"})); }),
              "\n Error: odd.mat variable 'c' is complex: a record is real: not a record \n");
    EXPECT_EQ(error_of([] { read("odd.mat", at_rate(1.0, {"fs"})); }),
              "\n Error: odd.mat variable 'fs' is a scalar: not a record \n");
    EXPECT_EQ(error_of([] { read("odd.mat", at_rate(1.0, {"d"})); }),
              "\n Error: odd.mat has no variable 'd' (its variables: 'a', 'b') \n");
    RecordRequest none;
    none.channels = {"a"};
    EXPECT_EQ(error_of([&] { read("odd.mat", none); }),
              "\n Error: odd.mat has no sample rate of its own: give --sample-rate or --rate-variable \n");
    none.rate_variable = "bad_rate";
    EXPECT_NE(error_of([&] { read("odd.mat", none); }).find("variable 'bad_rate' holds -5, not a sample rate above zero"),
              std::string::npos);
    none.rate_variable = "a";
    EXPECT_NE(error_of([&] { read("odd.mat", none); }).find("variable 'a' is not a real number"), std::string::npos);

    // Cut short anywhere, a file is refused, not misread.
    const std::string whole = testing::read_file("odd.mat");
    for (size_t size : {size_t{100}, size_t{150}, whole.size() / 2, whole.size() - 3}) {
        SCOPED_TRACE(size);
        write_file("cut.mat", whole.substr(0, size));
        std::vector<ChannelRecord> b;
        const std::string message = error_of([&] { b = read("cut.mat", at_rate(1.0, {"b"})); });
        if (message.empty()) {
            ASSERT_EQ(b.size(), 1u);
            EXPECT_EQ(b[0].record.samples, (std::vector<double>{4, 5, 6}));
        } else {
            EXPECT_EQ(message.find("\n Error: cut.mat "), 0u) << message;
        }
    }
}

// A struct whose field names claim 1.8 GB of a 248-byte variable: libmatio
// would size its work by that claim (a minute and the reading child's memory
// limit when compressed); the header check refuses it first, either way.
TEST(MatReader, FieldNamesBeyondTheirVariableAreRefusedBeforeLibmatioReadsThem) {
    for (const char* name : {"struct_field_names_of_a_gigabyte.mat", "compressed_struct_field_names_of_a_gigabyte.mat"}) {
        SCOPED_TRACE(name);
        const std::string file = std::string(QUOREL_FUZZ_DIR) + "/regressions/mat/" + name;
        EXPECT_EQ(error_of([&] { read(file, at_rate(1000.0, {"all"})); }),
                  "\n Error: " + file + " its variable at byte 312 is damaged: its field names are not within it \n");
    }
}

}  // namespace
}  // namespace quorel
