#include "spec/spec_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "run/error.hpp"
#include "run/format.hpp"

namespace quorel {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Opens the specification for reading.  Only a regular file is accepted: a
// FIFO or a terminal would block the run waiting for a writer, a directory or a
// device holds no specification.  O_NONBLOCK keeps the open itself from
// waiting on a FIFO; it has no effect on a regular file's reads.
std::unique_ptr<std::FILE, FileCloser> open_spec_file(const std::string& file_name) {
    const int fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw QuorelError(format(" Failed to open file: %s \n", file_name.c_str()));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw QuorelError(format("\n Error: %s is not a regular file \n", file_name.c_str()));
    }
    std::unique_ptr<std::FILE, FileCloser> file(::fdopen(fd, "rb"));
    if (!file) {
        ::close(fd);
        throw QuorelError(format(" Failed to open file: %s \n", file_name.c_str()));
    }
    return file;
}

bool positive_finite(float value) { return std::isfinite(value) && value > 0.0f; }

}  // namespace

std::string trial_file_name(const std::string& base, int32_t trial) {
    return base + format("_%ld", static_cast<long>(trial)) + ".out";
}

void load_spec_points(Console& console, const std::string& file_name, SrsSpec& spec) {
    const auto file = open_spec_file(file_name);
    console.print(format(" File: %s opened. \n", file_name.c_str()));

    // Free-format pairs read as "%f" reads them.  A read that assigns only the
    // frequency (a lone final number) still counts as a point, with acceleration 0;
    // the first read that assigns nothing (end of file, or a word) ends the list.
    int32_t count = 0;
    for (;;) {
        float freq = 0.0f;
        float accel = 0.0f;
        if (std::fscanf(file.get(), "%f %f", &freq, &accel) < 1) break;
        if (count == max_frequencies) {
            throw QuorelError(format("\n Error: more than 125 points in %s \n", file_name.c_str()));
        }
        spec.input_freq[count] = freq;
        spec.input_accel[count] = accel;
        spec.last_input_freq = freq;
        spec.last_input_accel = accel;
        ++count;
    }
    spec.input_count = count;
    if (count == 0) throw QuorelError(format("\n Error: no points in %s \n", file_name.c_str()));

    // Logarithmic interpolation needs positive values in ascending frequency.
    for (int32_t p = 0; p < count; ++p) {
        const bool ascending = p == 0 || spec.input_freq[p] > spec.input_freq[p - 1];
        if (!positive_finite(spec.input_freq[p]) || !positive_finite(spec.input_accel[p]) || !ascending) {
            throw QuorelError(format("\n Error: bad point %ld in %s \n", static_cast<long>(p), file_name.c_str()));
        }
    }
}

void read_spec_file(Console& console, SrsSpec& spec, OutputNames& names) {
    console.print("\n\n\n The input SRS specification file must have two columns: \n\n"
                  "   natural frequency(Hz) and SRS accel(G) ");
    console.print("\n\n The format is free, but no header lines allowed.\n");
    console.print("\n\n Please enter the input filename. \n");
    const std::string file_name = console.read_file_name();
    load_spec_points(console, file_name, spec);
    names = OutputNames{};
}

}  // namespace quorel
