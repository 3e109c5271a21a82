// The format of a record: known by its extension, checked by its content;
// channels of a text record; the scale and the time unit; and the example
// files of every format, each read to the samples of its CSV twin.
#include "record/record_formats.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record/format_writers.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::error_of;
using testing::TempDir;
using testing::write_file;

std::vector<ChannelRecord> read(const std::string& argument, const RecordRequest& request = {}) {
    return read_records(argument, request);
}

TEST(RecordFormats, TheExtensionNamesTheFormatAndTheContentMustAgree) {
    EXPECT_EQ(format_by_name("a/b.MAT"), RecordFormat::mat);
    EXPECT_EQ(format_by_name("x.Wav"), RecordFormat::wav);
    EXPECT_EQ(format_by_name("x.hdf5"), RecordFormat::hdf5);
    EXPECT_EQ(format_by_name("x.unv"), RecordFormat::uff58);
    EXPECT_EQ(format_by_name("x.csv"), RecordFormat::text);
    EXPECT_EQ(format_by_name("dir.mat/x"), RecordFormat::text);

    TempDir dir;
    write_mat("m.mat", {{"a", {1, 2}, 2, 1, false, false, {}}}, MatVersion::v5);
    write_mat("m73.mat", {{"a", {1, 2}, 2, 1, false, false, {}}}, MatVersion::v73);
    write_wav("w.wav", {{1, 2}}, 100, WavEncoding::pcm16);
    write_hdf5("h.h5", {{"/a", {1, 2}, 2, 0, false, {}}});
    write_file("u.uff", uff58_dataset({.name = "a", .step = 0.01}, std::vector<double>{1, 2}));
    EXPECT_EQ(format_by_content(testing::read_file("m.mat")).shown, "a MAT file (v5)");
    EXPECT_EQ(format_by_content(testing::read_file("m73.mat")).shown, "a MAT file (v7.3)");
    EXPECT_EQ(format_by_content(testing::read_file("w.wav")).format, RecordFormat::wav);
    EXPECT_EQ(format_by_content(testing::read_file("h.h5")).format, RecordFormat::hdf5);
    EXPECT_EQ(format_by_content(testing::read_file("u.uff")).format, RecordFormat::uff58);
    EXPECT_EQ(format_by_content("-1\n2\n3\n").format, RecordFormat::text);
    EXPECT_EQ(format_by_content("    -1\n-3\n").format, RecordFormat::text);

    const std::vector<std::pair<std::string, std::string>> renamed{
        {"m.mat", "m.wav"}, {"w.wav", "w.csv"}, {"h.h5", "h.mat"}, {"m73.mat", "m.h5"}, {"u.uff", "u.txt"}};
    for (const auto& [from, to] : renamed) std::filesystem::copy_file(from, to);
    EXPECT_EQ(error_of([] { read("m.wav"); }), "\n Error: m.wav is named as a WAV file (.wav) but holds a MAT file (v5) \n");
    EXPECT_EQ(error_of([] { read("w.csv"); }), "\n Error: w.csv is named as text (.csv) but holds a WAV file \n");
    EXPECT_EQ(error_of([] { read("h.mat"); }), "\n Error: h.mat is named as a MAT file (.mat) but holds an HDF5 file \n");
    EXPECT_EQ(error_of([] { read("m.h5"); }), "\n Error: m.h5 is named as an HDF5 file (.h5) but holds a MAT file (v7.3) \n");
    EXPECT_EQ(error_of([] { read("u.txt"); }), "\n Error: u.txt is named as text (.txt) but holds a universal file \n");
    write_file("t.uff", "1\n2\n");
    EXPECT_EQ(error_of([] { read("t.uff"); }),
              "\n Error: t.uff is named as a universal file (.uff) but holds no universal-file dataset (a line '    "
              "-1', then a dataset number) \n");
}

TEST(RecordFormats, AnArgumentNamesAFileAndMaySelectInIt) {
    TempDir dir;
    write_file("a:b.csv", "1\n2\n");
    write_file("c.csv", "1\n2\n");
    EXPECT_EQ(split_record_argument("a:b.csv").file, "a:b.csv");
    EXPECT_EQ(split_record_argument("c.csv:x:y").file, "c.csv");
    EXPECT_EQ(split_record_argument("c.csv:x:y").selector, "x:y");
    EXPECT_EQ(split_record_argument("missing:x").file, "missing:x");
}

TEST(RecordFormats, TextColumnsAsChannels) {
    TempDir dir;
    write_file("t.csv", "time (ms),x,y\n0,1,10\n0.5,2,20\n1,3,30\n");
    RecordRequest all;
    all.channels = {"all"};
    all.time_unit = TimeUnit::ms;
    const std::vector<ChannelRecord> r = read("t.csv", all);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].name, "t.csv:x");
    EXPECT_EQ(r[1].record.samples, (std::vector<double>{10, 20, 30}));
    EXPECT_DOUBLE_EQ(r[1].record.sample_rate, 2000.0);

    RecordRequest picked;
    picked.channels = {"3", "X", "y"};
    picked.scale = -2.0;
    const std::vector<ChannelRecord> p = read("t.csv", picked);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].name, "t.csv:y");
    EXPECT_EQ(p[0].record.samples, (std::vector<double>{-20, -40, -60}));
    EXPECT_EQ(p[1].name, "t.csv:x");
    EXPECT_DOUBLE_EQ(p[1].record.sample_rate, 2.0);
    EXPECT_EQ(read("t.csv:y")[0].name, "t.csv:y");

    // No header: columns by number.
    write_file("n.txt", "1 2 3\n4 5 6\n");
    RecordRequest rate;
    rate.text.sample_rate = 100.0;
    rate.channels = {"all"};
    const std::vector<ChannelRecord> n = read("n.txt", rate);
    ASSERT_EQ(n.size(), 3u);
    EXPECT_EQ(n[2].name, "n.txt:3");
    rate.text.column_number = 2;
    EXPECT_EQ(error_of([&] { read("n.txt", rate); }),
              "\n Error: n.txt has its column chosen by --column and by --channel: give one \n");
}

// Each example file holds the samples of examples/measured_shock.csv exactly
// (scripts/make-record-examples writes them from it).
TEST(RecordFormats, EveryExampleReadsAsItsCsvTwin) {
    const std::string examples = QUOREL_EXAMPLES_DIR;
    const ChannelRecord twin = read(examples + "/measured_shock.csv").front();
    ASSERT_EQ(twin.record.samples.size(), 6000u);
    for (const char* name : {"measured_shock.mat", "measured_shock_v73.mat", "measured_shock.wav", "measured_shock.h5",
                             "measured_shock.uff"}) {
        SCOPED_TRACE(name);
        RecordRequest request;
        request.rate_variable = "fs";
        request.rate_attribute = "sample_rate";
        const std::vector<ChannelRecord> r = read(examples + "/" + name, request);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].record.samples, twin.record.samples);
        EXPECT_EQ(r[0].record.sample_rate, twin.record.sample_rate);
        EXPECT_EQ(r[0].record.start_time, twin.record.start_time);
    }
}

}  // namespace
}  // namespace quorel
