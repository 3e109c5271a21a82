// WAV files built byte by byte (RIFF header, fmt and data chunks), so that
// what libsndfile and the reader make of them is checked against the bytes
// themselves; RF64 written by libsndfile.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
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

// A canonical WAV: format tag 1 (PCM), 3 (IEEE float) or 7 (mu-law).
std::string wav(int tag, int channels, int rate, int bits, const std::string& data, int64_t declared = -1) {
    const std::string fmt = le(static_cast<uint64_t>(tag), 2) + le(static_cast<uint64_t>(channels), 2) +
                            le(static_cast<uint64_t>(rate), 4) +
                            le(static_cast<uint64_t>(rate * channels * bits / 8), 4) +
                            le(static_cast<uint64_t>(channels * bits / 8), 2) + le(static_cast<uint64_t>(bits), 2) +
                            (tag == 1 ? "" : le(0, 2));
    const uint64_t size = declared < 0 ? data.size() : static_cast<uint64_t>(declared);
    const std::string body = "WAVE" + std::string("fmt ") + le(fmt.size(), 4) + fmt + "data" + le(size, 4) + data;
    return "RIFF" + le(body.size(), 4) + body;
}

template <class T>
std::string samples(const std::vector<T>& values, int bytes = sizeof(T)) {
    std::string out;
    for (const T v : values) {
        if constexpr (std::is_floating_point_v<T>) {
            char b[sizeof(T)];
            std::memcpy(b, &v, sizeof(T));
            out.append(b, sizeof(T));
        } else {
            out += le(static_cast<uint64_t>(static_cast<int64_t>(v)), bytes);
        }
    }
    return out;
}

std::vector<ChannelRecord> read(const std::string& name, const RecordRequest& request = {}) {
    return read_records(name, request);
}

TEST(WavReader, SixteenBitChannelsAreFractionsOfFullScale) {
    TempDir dir;
    // Two channels interleaved: (0, 1), (16384, -1), (-32768, 100), (32767, -100).
    write_file("t.wav", wav(1, 2, 8000, 16, samples<int16_t>({0, 1, 16384, -1, -32768, 100, 32767, -100})));
    const std::vector<ChannelRecord> r = read("t.wav");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].name, "t.wav:1");
    EXPECT_EQ(r[1].name, "t.wav:2");
    EXPECT_EQ(r[0].record.samples, (std::vector<double>{0.0, 0.5, -1.0, 32767.0 / 32768.0}));
    EXPECT_EQ(r[1].record.samples, (std::vector<double>{1.0 / 32768, -1.0 / 32768, 100.0 / 32768, -100.0 / 32768}));
    EXPECT_EQ(r[0].record.sample_rate, 8000.0);
    EXPECT_EQ(r[0].full_scale, "16-bit PCM");

    RecordRequest second;
    second.channels = {"2"};
    second.scale = 32768.0;
    const std::vector<ChannelRecord> scaled = read("t.wav", second);
    ASSERT_EQ(scaled.size(), 1u);
    EXPECT_EQ(scaled[0].record.samples, (std::vector<double>{1.0, -1.0, 100.0, -100.0}));
}

TEST(WavReader, TwentyFourBitAndFloatSamples) {
    TempDir dir;
    write_file("p24.wav", wav(1, 1, 1000, 24, samples<int32_t>({-8388608, 4194304, 1}, 3)));
    EXPECT_EQ(read("p24.wav")[0].record.samples, (std::vector<double>{-1.0, 0.5, 1.0 / 8388608}));

    write_file("f32.wav", wav(3, 1, 1000, 32, samples<float>({0.1f, -2.5f, 1e-3f})));
    const ChannelRecord f32 = read("f32.wav")[0];
    EXPECT_EQ(f32.record.samples, (std::vector<double>{0.1f, -2.5f, 1e-3f}));
    EXPECT_TRUE(f32.full_scale.empty());

    write_file("f64.wav", wav(3, 1, 1000, 64, samples<double>({0.1, -1e5, 3.25})));
    EXPECT_EQ(read("f64.wav")[0].record.samples, (std::vector<double>{0.1, -1e5, 3.25}));

    write_wav("big.wav", {{0.1, -1e5, 3.25}, {1.0, 2.0, 3.0}}, 48000, WavEncoding::float64, true);
    ASSERT_EQ(testing::read_file("big.wav").substr(0, 4), "RF64");
    const std::vector<ChannelRecord> rf64 = read("big.wav");
    ASSERT_EQ(rf64.size(), 2u);
    EXPECT_EQ(rf64[0].record.samples, (std::vector<double>{0.1, -1e5, 3.25}));
    EXPECT_EQ(rf64[1].record.sample_rate, 48000.0);
}

TEST(WavReader, BadFilesAreRefusedNamingThem) {
    TempDir dir;
    write_file("mulaw.wav", wav(7, 1, 8000, 8, std::string(10, '\x7f')));
    EXPECT_NE(error_of([] { read("mulaw.wav"); }).find("mulaw.wav holds samples in a compressed encoding"), std::string::npos);

    write_file("short.wav", wav(1, 1, 8000, 16, samples<int16_t>({1, 2, 3, 4}), 100));
    EXPECT_EQ(error_of([] { read("short.wav"); }),
              "\n Error: short.wav is cut short: its data chunk declares 100 bytes, 8 follow it \n");

    write_file("nan.wav", wav(3, 1, 8000, 32, samples<float>({1.0f, std::numeric_limits<float>::quiet_NaN(), 0.0f})));
    EXPECT_EQ(error_of([] { read("nan.wav"); }), "\n Error: nan.wav channel 1: sample 2 is NaN, not a finite number \n");

    write_file("one.wav", wav(1, 1, 8000, 16, samples<int16_t>({5})));
    EXPECT_NE(error_of([] { read("one.wav"); }).find("holds 1 sample per channel: a record needs at least 2"),
              std::string::npos);

    write_file("rate.wav", wav(1, 1, 8000, 16, samples<int16_t>({1, 2})));
    RecordRequest other;
    other.text.sample_rate = 8001.0;
    EXPECT_EQ(error_of([&] { read("rate.wav", other); }),
              "\n Error: rate.wav is sampled at 8000 Hz, not at the --sample-rate 8001 Hz given \n");
    RecordRequest three;
    three.channels = {"3"};
    EXPECT_EQ(error_of([&] { read("rate.wav", three); }), "\n Error: rate.wav has no channel 3: it holds 1 ('1') \n");
}

// What a WAV header cannot hold is refused before any file is made.
TEST(WavWriter, ARateThatIsNoWholeNumberOrUnequalChannelsAreRefused) {
    TempDir dir;
    EXPECT_EQ(error_of([] { write_wav("w.wav", {{1, 2}}, 44100.5, WavEncoding::float32); }),
              "\n Error: w.wav: a WAV file holds a whole number of samples/sec, not 44100.5 \n");
    EXPECT_EQ(error_of([] { write_wav("w.wav", {{1, 2}, {3}}, 8000, WavEncoding::pcm16); }),
              "\n Error: w.wav: the channels of a WAV file are all of one length \n");
    EXPECT_FALSE(std::filesystem::exists("w.wav"));
    EXPECT_FALSE(std::filesystem::exists("w.wav.part"));
}

}  // namespace
}  // namespace quorel
