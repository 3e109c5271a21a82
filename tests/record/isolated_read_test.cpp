// A read in a child process: its records come back bit for bit, its refusal
// as it was, and its death as a refusal naming the file and the library.
#include "record/isolated_read.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <limits>

#include "base/error.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::error_of;

TEST(IsolatedRead, RecordsRefusalsAndDeaths) {
    const std::vector<ChannelRecord> read = read_isolated("f.h5", "libtest", [] {
        ChannelRecord r;
        r.name = "f.h5:/a b:2";
        r.channel = "/a b:2";
        r.format = RecordFormat::hdf5;
        r.full_scale = "16-bit PCM";
        r.record.file = "f.h5";
        r.record.samples = {1.0, -0.0, std::numeric_limits<double>::denorm_min(), 1e300};
        r.record.sample_rate = 51200.0;
        r.record.start_time = -0.125;
        return std::vector<ChannelRecord>{r, r};
    });
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].name, "f.h5:/a b:2");
    EXPECT_EQ(read[1].channel, "/a b:2");
    EXPECT_EQ(read[1].format, RecordFormat::hdf5);
    EXPECT_EQ(read[1].full_scale, "16-bit PCM");
    EXPECT_EQ(read[1].record.samples, (std::vector<double>{1.0, -0.0, std::numeric_limits<double>::denorm_min(), 1e300}));
    EXPECT_TRUE(std::signbit(read[1].record.samples[1]));
    EXPECT_EQ(read[1].record.sample_rate, 51200.0);
    EXPECT_EQ(read[1].record.start_time, -0.125);

    EXPECT_EQ(error_of([] {
                  read_isolated("f.h5", "libtest", []() -> std::vector<ChannelRecord> {
                      throw QuorelError("\n Error: f.h5 has no dataset 'x' \n");
                  });
              }),
              "\n Error: f.h5 has no dataset 'x' \n");
    // The child dies by the signal even where the parent handles it (as a
    // fuzzer does, recording the input as its own crash): the parent's
    // handler is not the child's.
    const auto parent_handler = std::signal(SIGABRT, [](int) { std::_Exit(0); });
    EXPECT_EQ(error_of([] {
                  read_isolated("f.h5", "libtest", []() -> std::vector<ChannelRecord> { std::abort(); });
              }),
              "\n Error: f.h5 cannot be read: libtest failed on it (signal 6, Aborted): it is damaged \n");
    std::signal(SIGABRT, parent_handler);
}

}  // namespace
}  // namespace quorel
