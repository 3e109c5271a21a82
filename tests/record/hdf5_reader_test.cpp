// HDF5 files written by libhdf5: datasets by path, the columns of a 2-D one,
// the rate from an attribute of the dataset or of a group above it.
#include <gtest/gtest.h>

#include <hdf5.h>

#include <filesystem>
#include <string>
#include <vector>

#include "record/format_writers.hpp"
#include "record/record_formats.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::error_of;
using testing::TempDir;

std::vector<ChannelRecord> read(const std::string& argument, const RecordRequest& request) {
    return read_records(argument, request);
}

RecordRequest by_attribute(std::vector<std::string> channels = {}) {
    RecordRequest r;
    r.rate_attribute = "rate";
    r.channels = std::move(channels);
    return r;
}

void write_run() {
    write_hdf5("run.h5",
               {{"/run/x", {1.0, -2.0, 3.5}, 3, 0, false, {{"rate", 1000.0}}},
                {"/run/table", {1, 10, 2, 20, 3, 30, 4, 40}, 4, 2, false, {}},
                {"/other/counts", {5, 6, 7}, 3, 0, true, {}}},
               {{"/run", "rate", 250.0}});
}

TEST(Hdf5Reader, DatasetsByPathAndTheColumnsOfATable) {
    TempDir dir;
    write_run();
    const std::vector<ChannelRecord> x = read("run.h5:/run/x", by_attribute());
    ASSERT_EQ(x.size(), 1u);
    EXPECT_EQ(x[0].name, "run.h5:/run/x");
    EXPECT_EQ(x[0].record.samples, (std::vector<double>{1.0, -2.0, 3.5}));
    // The dataset's own attribute first.
    EXPECT_EQ(x[0].record.sample_rate, 1000.0);

    // Rows are samples: each column a record, the group's rate.
    const std::vector<ChannelRecord> t = read("run.h5:/run/table", by_attribute());
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1].name, "run.h5:/run/table:2");
    EXPECT_EQ(t[1].record.samples, (std::vector<double>{10, 20, 30, 40}));
    EXPECT_EQ(t[1].record.sample_rate, 250.0);

    // A group keeps what lies below it; --channel chooses among those, by a
    // path without its leading '/' too.
    EXPECT_EQ(read("run.h5:/run", by_attribute({"all"})).size(), 3u);
    EXPECT_EQ(read("run.h5", by_attribute({"run/table:1"}))[0].record.samples, (std::vector<double>{1, 2, 3, 4}));
    RecordRequest counts;
    counts.text.sample_rate = 10.0;
    counts.channels = {"/other/counts"};
    EXPECT_EQ(read("run.h5", counts)[0].record.samples, (std::vector<double>{5, 6, 7}));
}

TEST(Hdf5Reader, WhatIsNoRecordIsRefusedNamingIt) {
    TempDir dir;
    write_run();
    EXPECT_EQ(error_of([] { read("run.h5", by_attribute()); }),
              "\n Error: run.h5 holds 3 datasets that could be records ('/other/counts', '/run/table', '/run/x'): "
              "choose with --channel (a name, a number or all) \n");
    EXPECT_EQ(error_of([] { read("run.h5:/other/counts", by_attribute()); }),
              "\n Error: run.h5 has no attribute 'rate' on '/other/counts' or a group above it, so no sample rate "
              "(--rate-attribute) \n");
    EXPECT_EQ(error_of([] { read("run.h5:/nothing", by_attribute()); }),
              "\n Error: run.h5 has no dataset '/nothing' (its datasets: '/other/counts', '/run/table:1', "
              "'/run/table:2', '/run/x') \n");

    // A dataset made and never written holds only its fill value.
    const hid_t file = H5Fopen("run.h5", H5F_ACC_RDWR, H5P_DEFAULT);
    const hsize_t dims[1] = {100};
    const hid_t space = H5Screate_simple(1, dims, nullptr);
    H5Dclose(H5Dcreate2(file, "/empty", H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    H5Sclose(space);
    H5Fclose(file);
    RecordRequest empty;
    empty.text.sample_rate = 10.0;
    empty.channels = {"/empty"};
    EXPECT_EQ(error_of([&] { read("run.h5", empty); }),
              "\n Error: run.h5 dataset '/empty' holds no data: its storage was never written \n");

    const std::string whole = testing::read_file("run.h5");
    for (size_t size : {size_t{64}, size_t{700}, whole.size() / 2}) {
        SCOPED_TRACE(size);
        testing::write_file("cut.h5", whole.substr(0, size));
        EXPECT_NE(error_of([] { read("cut.h5", by_attribute({"all"})); }).find(" Error: cut.h5 "), std::string::npos);
    }
}

// A text attribute is a fixed-length string of its own length; a write that
// fails leaves the earlier file of the name whole and no temporary beside it.
TEST(Hdf5Writer, TextAttributesAndAFailedWriteLeavesTheEarlierFile) {
    TempDir dir;
    write_hdf5("t.h5", {{.path = "a", .values = {1, 2}, .rows = 2, .text_attributes = {{"units", "m/sec^2"}}}});
    const hid_t file = H5Fopen("t.h5", H5F_ACC_RDONLY, H5P_DEFAULT);
    const hid_t attribute = H5Aopen_by_name(file, "/a", "units", H5P_DEFAULT, H5P_DEFAULT);
    const hid_t type = H5Aget_type(attribute);
    ASSERT_EQ(H5Tget_class(type), H5T_STRING);
    std::string units(H5Tget_size(type), '?');
    EXPECT_GE(H5Aread(attribute, type, units.data()), 0);
    EXPECT_EQ(units, "m/sec^2");
    H5Tclose(type);
    H5Aclose(attribute);
    H5Fclose(file);

    const std::string before = testing::read_file("t.h5");
    EXPECT_EQ(error_of([] { write_hdf5("t.h5", {{.path = "b", .values = {1}, .rows = 1}}, {{"/no", "rate", 1.0}}); }),
              "\n Error: t.h5: there is no group /no \n");
    const Hdf5Dataset one{.path = "a", .values = {1}, .rows = 1};
    EXPECT_EQ(error_of([&] { write_hdf5("t.h5", {one, one}); }),
              "\n Error: t.h5: the dataset a could not be written \n");
    EXPECT_EQ(testing::read_file("t.h5"), before);
    EXPECT_FALSE(std::filesystem::exists("t.h5.part"));
}

// A float dataset whose numbers claim 4 GB each: libhdf5 would size its
// conversion buffer by that (10 s and 4 GB); it is listed as damaged instead.
TEST(Hdf5Reader, NumbersOfGigabytesEachAreRefusedAsDamaged) {
    const std::string file = std::string(QUOREL_FUZZ_DIR) + "/regressions/hdf5/numbers_of_four_gigabytes_each.h5";
    RecordRequest request;
    request.text.sample_rate = 1000.0;
    request.channels = {"/run/x"};
    EXPECT_EQ(error_of([&] { read_records(file, request); }),
              "\n Error: " + file + " dataset '/run/x' declares numbers of 4294967282 bytes each: it is damaged: not a "
              "record \n");
}

}  // namespace
}  // namespace quorel
