// quorel-write-record: a record written in another format, for the examples,
// the benchmark and trying the readers.
//
//   quorel-write-record FORMAT IN OUT [--name NAME] [--full-scale K]
//
// IN is any record quorel check reads as it stands (a text record with its
// time column, the first channel of other files).  FORMAT:
//   mat5, mat5z, mat73   the variable NAME (a column of doubles) and fs, the
//                        sample rate in Hz (v5, v5 compressed, v7.3)
//   wav16, wav24, wav32  integer PCM, K (default 1) reading as full scale:
//                        a sample a is written as round(a / K * 2^(bits-1))
//   wavf32, wavf64, rf64 float WAV (rf64: 64-bit float in an RF64 file)
//   h5                   the dataset /shock/NAME, doubles, and the attribute
//                        sample_rate (Hz) of the group /shock
//   uff, uffb            a dataset 58 (ASCII, 4E20.12) or 58b (raw doubles)
//                        whose ID line 1 is NAME
// NAME defaults to "accel".
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "record/format_writers.hpp"
#include "record/record_formats.hpp"

using namespace quorel;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: quorel-write-record FORMAT IN OUT [--name NAME] [--full-scale K]\n");
        return 2;
    }
    const std::string format = argv[1], in = argv[2], out = argv[3];
    std::string name = "accel";
    double full_scale = 1.0;
    for (int i = 4; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--name") {
            name = argv[i + 1];
        } else if (option == "--full-scale") {
            full_scale = std::stod(argv[i + 1]);
        } else {
            std::fprintf(stderr, "quorel-write-record: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    try {
        const std::vector<ChannelRecord> records = read_records(in, {});
        const Record& r = records.front().record;
        const std::vector<double>& a = r.samples;
        const size_t n = a.size();
        if (format == "mat5" || format == "mat5z" || format == "mat73") {
            const MatVersion version = format == "mat5" ? MatVersion::v5 : (format == "mat5z" ? MatVersion::v5_compressed : MatVersion::v73);
            write_mat(out, {{name, a, n, 1, false, false, {}}, {"fs", {r.sample_rate}, 1, 1, false, false, {}}}, version);
        } else if (format == "wav16" || format == "wav24" || format == "wav32") {
            const int bits = format == "wav16" ? 16 : (format == "wav24" ? 24 : 32);
            const double top = std::ldexp(1.0, bits - 1);
            std::vector<double> counts(n);
            for (size_t k = 0; k < n; ++k) counts[k] = std::fmax(-top, std::fmin(top - 1.0, std::nearbyint(a[k] / full_scale * top)));
            write_wav(out, {counts}, std::round(r.sample_rate),
                      bits == 16 ? WavEncoding::pcm16 : (bits == 24 ? WavEncoding::pcm24 : WavEncoding::pcm32));
        } else if (format == "wavf32" || format == "wavf64" || format == "rf64") {
            write_wav(out, {a}, std::round(r.sample_rate),
                      format == "wavf32" ? WavEncoding::float32 : WavEncoding::float64, format == "rf64");
        } else if (format == "h5") {
            write_hdf5(out, {{"/shock/" + name, a, n, 0, false, {}}}, {{"/shock", "sample_rate", r.sample_rate}});
        } else if (format == "uff" || format == "uffb") {
            write_uff58(out,
                        {.name = name, .created = "01-Jan-25 12:00:00", .direction = 3, .start = r.start_time,
                         .step = 1.0 / r.sample_rate, .binary = format == "uffb"},
                        a);
        } else {
            std::fprintf(stderr, "quorel-write-record: unknown format %s\n", format.c_str());
            return 2;
        }
    } catch (const QuorelError& error) {
        std::fputs(error.what(), stderr);
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quorel-write-record: %s\n", error.what());
        return 1;
    }
    return 0;
}
