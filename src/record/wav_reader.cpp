// WAV files (RIFF, RIFX, WAVE_FORMAT_EXTENSIBLE and RF64), read by libsndfile.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "base/format.hpp"
#include "record/channel_selection.hpp"
#include "record/format_readers.hpp"

namespace quorel {

namespace {

struct SndCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

// Frames read at a time: the interleaved buffer is the only memory beside the
// channels' samples.
constexpr sf_count_t frames_per_read = 8192;

struct Encoding {
    const char* shown;    // "16-bit PCM"
    int bytes;            // per sample in the file
    bool integer;
};

bool encoding_of(int subtype, Encoding& out) {
    switch (subtype) {
        case SF_FORMAT_PCM_U8: out = {"8-bit PCM", 1, true}; return true;
        case SF_FORMAT_PCM_S8: out = {"8-bit PCM", 1, true}; return true;
        case SF_FORMAT_PCM_16: out = {"16-bit PCM", 2, true}; return true;
        case SF_FORMAT_PCM_24: out = {"24-bit PCM", 3, true}; return true;
        case SF_FORMAT_PCM_32: out = {"32-bit PCM", 4, true}; return true;
        case SF_FORMAT_FLOAT: out = {"32-bit float", 4, false}; return true;
        case SF_FORMAT_DOUBLE: out = {"64-bit float", 8, false}; return true;
        default: return false;
    }
}

uint64_t little(const unsigned char* b, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[i];
    return v;
}

uint64_t big(const unsigned char* b, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | b[i];
    return v;
}

// The size the data chunk declares and the bytes the file holds after its
// header, by walking the RIFF chunks (an RF64 file keeps the size in its ds64
// chunk); libsndfile reads a cut-short file as far as it goes, which would be
// a shorter record than was written.
struct DataChunk {
    uint64_t declared = 0, present = 0;
    bool found = false;
};

DataChunk data_chunk(const std::string& file, uint64_t file_size) {
    DataChunk out;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    unsigned char head[12];
    if (::pread(fd, head, 12, 0) == 12) {
        const bool rifx = std::memcmp(head, "RIFX", 4) == 0;
        const bool rf64 = std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0;
        uint64_t ds64_data = 0;
        uint64_t at = 12;
        for (int chunks = 0; chunks < 10000 && at + 8 <= file_size; ++chunks) {
            unsigned char tag[8];
            if (::pread(fd, tag, 8, static_cast<off_t>(at)) != 8) break;
            uint64_t size = rifx ? big(tag + 4, 4) : little(tag + 4, 4);
            if (rf64 && std::memcmp(tag, "ds64", 4) == 0) {
                unsigned char sizes[16];
                if (::pread(fd, sizes, 16, static_cast<off_t>(at + 8)) == 16) ds64_data = little(sizes + 8, 8);
            }
            if (std::memcmp(tag, "data", 4) == 0) {
                if (rf64 && size == 0xFFFFFFFFu) size = ds64_data;
                out = {size, file_size - (at + 8), true};
                break;
            }
            at += 8 + size + (size & 1);
        }
    }
    ::close(fd);
    return out;
}

}  // namespace

std::vector<ChannelRecord> read_wav_records(const std::string& file, const std::string& selector,
                                            const RecordRequest& request) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) refuse_record(file, "cannot be opened: no such file");
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndCloser> sound(sf_open(file.c_str(), SFM_READ, &info));
    if (!sound) refuse_record(file, format("cannot be read as a WAV file: %s", sf_strerror(nullptr)));
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64) {
        refuse_record(file, "is a sound file of another kind than WAV");
    }
    Encoding encoding{};
    if (!encoding_of(info.format & SF_FORMAT_SUBMASK, encoding)) {
        refuse_record(file, "holds samples in a compressed encoding (A-law, mu-law, ADPCM, ...): only PCM of 8 to 32 "
                            "bits and 32 or 64-bit float are read");
    }
    if (info.channels < 1) refuse_record(file, "declares no channel");
    if (info.frames < 2) {
        refuse_record(file, format("holds %lld sample%s per channel: a record needs at least 2",
                                   static_cast<long long>(info.frames), info.frames == 1 ? "" : "s"));
    }
    const DataChunk data = data_chunk(file, static_cast<uint64_t>(status.st_size));
    if (data.found && data.declared > data.present) {
        refuse_record(file, format("is cut short: its data chunk declares %llu bytes, %llu follow it",
                                   static_cast<unsigned long long>(data.declared),
                                   static_cast<unsigned long long>(data.present)));
    }
    const double declared = static_cast<double>(info.frames) * info.channels * encoding.bytes;
    if (declared > static_cast<double>(status.st_size)) {
        refuse_record(file, format("declares %lld samples per channel, more than its %lld bytes hold: it is cut short",
                                   static_cast<long long>(info.frames), static_cast<long long>(status.st_size)));
    }

    ChannelListing listing;
    listing.kind = "channel";
    for (int c = 1; c <= info.channels; ++c) {
        const std::string name = format("%d", c);
        listing.channels.push_back({name, name});
    }
    const std::vector<size_t> chosen = select_channels(file, listing, selector, request.channels, DefaultChannels::every);
    if (!(info.samplerate > 0)) refuse_record(file, format("declares a sample rate of %d Hz", info.samplerate));
    const double rate = carried_sample_rate(file, "", static_cast<double>(info.samplerate), request);

    std::vector<ChannelRecord> records(chosen.size());
    for (size_t i = 0; i < chosen.size(); ++i) {
        ChannelRecord& r = records[i];
        r.channel = listing.channels[chosen[i]].name;
        r.name = file + ":" + r.channel;
        r.format = RecordFormat::wav;
        r.record.file = file;
        r.record.sample_rate = rate;
        r.record.samples.reserve(static_cast<size_t>(info.frames));
        if (encoding.integer) r.full_scale = encoding.shown;
    }
    // Integers as fractions of full scale: a 16-bit sample k reads k / 32768.
    sf_command(sound.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    std::vector<double> buffer(static_cast<size_t>(frames_per_read * info.channels));
    sf_count_t total = 0;
    while (total < info.frames) {
        const sf_count_t got = sf_readf_double(sound.get(), buffer.data(), frames_per_read);
        if (got <= 0) break;
        for (size_t i = 0; i < chosen.size(); ++i) {
            std::vector<double>& samples = records[i].record.samples;
            for (sf_count_t k = 0; k < got; ++k) samples.push_back(buffer[static_cast<size_t>(k * info.channels) + chosen[i]]);
        }
        total += got;
    }
    if (total < info.frames) {
        refuse_record(file, format("is cut short: it declares %lld samples per channel, %lld could be read",
                                   static_cast<long long>(info.frames), static_cast<long long>(total)));
    }
    for (ChannelRecord& r : records) check_channel_samples(file, "channel " + r.channel, r.record.samples);
    return records;
}

}  // namespace quorel
