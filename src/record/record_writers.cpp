#include "record/record_writers.hpp"

#include <hdf5.h>
#include <matio.h>
#include <sndfile.h>
#include <unistd.h>

#include <charconv>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <vector>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/output_file.hpp"

namespace quorel {

namespace {

[[noreturn]] void write_failed(const std::string& path, const std::string& reason) {
    throw QuorelError(format("\n Error: %s: %s \n", path.c_str(), reason.c_str()));
}

// The temporary file made fresh (never written through a link left there) and
// closed, for a library that opens it by name.
void prepare_temporary(PendingName& pending) {
    const int fd = pending.create();
    if (::close(fd) != 0) throw file_error(pending.temporary(), errno);
}

// Appends `value` as "%.9g" prints it.
void append_general(std::string& text, double value) {
    char buffer[32];
    text.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 9).ptr);
}

// matio's and libhdf5's own messages go nowhere: a failure is told here.
void quiet_libraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        Mat_LogInitFunc("quorel", [](int, char*) {});
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    });
}

}  // namespace

void write_csv_record(const std::string& path, const WrittenChannel& channel) {
    std::string text = "time (sec),acceleration (" + channel.unit + ")\n";
    text.reserve(text.size() + channel.samples.size() * 28);
    for (size_t k = 0; k < channel.samples.size(); ++k) {
        append_general(text, channel.times[k]);
        text += ',';
        append_general(text, channel.samples[k]);
        text += '\n';
    }
    OutputFile file(path);
    file.write(text);
    file.close();
}

int64_t write_wav_record(const std::string& path, const WrittenChannel& channel, double volts_per_unit) {
    if (!(channel.sample_rate >= 1.0 && channel.sample_rate <= 2147483647.0) ||
        channel.sample_rate != std::floor(channel.sample_rate)) {
        write_failed(path, format("a WAV file holds a whole number of samples/sec, not %.9g", channel.sample_rate));
    }
    std::vector<float> volts(channel.samples.size());
    int64_t outside = 0;
    for (size_t k = 0; k < volts.size(); ++k) {
        volts[k] = static_cast<float>(static_cast<double>(channel.samples[k]) * volts_per_unit);
        if (!(std::fabs(volts[k]) <= 1.0f)) ++outside;
    }
    PendingName pending(path);
    prepare_temporary(pending);
    SF_INFO info{};
    info.samplerate = static_cast<int>(channel.sample_rate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(pending.temporary().c_str(), SFM_WRITE, &info);
    if (file == nullptr) write_failed(path, sf_strerror(nullptr));
    // Samples beyond ±1 are kept as they are, not clipped.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    const sf_count_t written = sf_writef_float(file, volts.data(), static_cast<sf_count_t>(volts.size()));
    const std::string reason = written == static_cast<sf_count_t>(volts.size()) ? "" : sf_strerror(file);
    if (sf_close(file) != 0 && reason.empty()) write_failed(path, "the file could not be completed");
    if (!reason.empty()) write_failed(path, reason);
    pending.commit();
    return outside;
}

void write_mat_record(const std::string& path, const WrittenChannel& channel) {
    quiet_libraries();
    const size_t n = channel.samples.size();
    std::vector<double> time(channel.times.begin(), channel.times.end());
    std::vector<double> acceleration(channel.samples.begin(), channel.samples.end());
    double rate = channel.sample_rate;
    std::string units = channel.unit;
    PendingName pending(path);
    prepare_temporary(pending);
    mat_t* mat = Mat_CreateVer(pending.temporary().c_str(), nullptr, MAT_FT_MAT5);
    if (mat == nullptr) write_failed(path, "the MAT file could not be created");
    bool ok = true;
    auto put = [&](const char* name, matio_classes c, matio_types t, size_t rows, size_t columns, void* data) {
        size_t dims[2] = {rows, columns};
        matvar_t* var = Mat_VarCreate(name, c, t, 2, dims, data, 0);
        ok = ok && var != nullptr && Mat_VarWrite(mat, var, MAT_COMPRESSION_NONE) == 0;
        if (var != nullptr) Mat_VarFree(var);
    };
    put("time", MAT_C_DOUBLE, MAT_T_DOUBLE, n, 1, time.data());
    put("acceleration", MAT_C_DOUBLE, MAT_T_DOUBLE, n, 1, acceleration.data());
    put("sample_rate", MAT_C_DOUBLE, MAT_T_DOUBLE, 1, 1, &rate);
    put("units", MAT_C_CHAR, MAT_T_UINT8, 1, units.size(), units.data());
    ok = Mat_Close(mat) == 0 && ok;
    if (!ok) write_failed(path, "the MAT variables could not be written");
    pending.commit();
}

void write_hdf5_record(const std::string& path, const WrittenChannel& channel) {
    quiet_libraries();
    std::vector<double> acceleration(channel.samples.begin(), channel.samples.end());
    PendingName pending(path);
    prepare_temporary(pending);
    const hid_t file = H5Fcreate(pending.temporary().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0) write_failed(path, "the HDF5 file could not be created");
    bool ok = true;
    const hsize_t dims[1] = {acceleration.size()};
    const hid_t space = H5Screate_simple(1, dims, nullptr);
    const hid_t set = H5Dcreate2(file, "acceleration", H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    ok = set >= 0 && H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, acceleration.data()) >= 0;
    const hid_t scalar = H5Screate(H5S_SCALAR);
    auto number = [&](const char* name, double value) {
        const hid_t a = H5Acreate2(set, name, H5T_IEEE_F64LE, scalar, H5P_DEFAULT, H5P_DEFAULT);
        ok = ok && a >= 0 && H5Awrite(a, H5T_NATIVE_DOUBLE, &value) >= 0;
        if (a >= 0) H5Aclose(a);
    };
    if (ok) {
        number("sample_rate", channel.sample_rate);
        number("dt", channel.times.size() > 1 ? static_cast<double>(channel.times[1]) : 1.0 / channel.sample_rate);
        number("start_time", 0.0);
        const hid_t text = H5Tcopy(H5T_C_S1);
        H5Tset_size(text, channel.unit.empty() ? 1 : channel.unit.size());
        const hid_t a = H5Acreate2(set, "units", text, scalar, H5P_DEFAULT, H5P_DEFAULT);
        ok = a >= 0 && H5Awrite(a, text, channel.unit.c_str()) >= 0;
        if (a >= 0) H5Aclose(a);
        H5Tclose(text);
    }
    H5Sclose(scalar);
    if (set >= 0) H5Dclose(set);
    H5Sclose(space);
    ok = H5Fclose(file) >= 0 && ok;
    if (!ok) write_failed(path, "the HDF5 dataset could not be written");
    pending.commit();
}

void write_uff58_record(const std::string& path, const WrittenChannel& channel, const std::string& description) {
    const size_t n = channel.samples.size();
    const std::string unit = channel.unit.substr(0, 20);
    std::string text = "    -1\n    58\n";
    text += description.substr(0, 80) + "\nNONE\n01-Jan-70 00:00:00\nNONE\n";
    text += format("sample rate %.17g Hz\n", channel.sample_rate);
    text += format("%5d%10d%5d%10d %-10s%10d%4d %-10s%10d%4d\n", 1, 0, 0, 0, "NONE", 1, 0, "NONE", 0, 0);
    // The step to 7 significant digits, the whole 13 columns of a positive number.
    text += format("%10d%10zu%10d%13.5E%13.6E%13.5E\n", 4, n, 1, 0.0, 1.0 / channel.sample_rate, 0.0);
    text += format("%10d%5d%5d%5d %-20s %-20s\n", 17, 0, 0, 0, "Time", "s");
    text += format("%10d%5d%5d%5d %-20s %-20s\n", 12, 0, 0, 0, "Acceleration", unit.c_str());
    for (int k = 0; k < 2; ++k) text += format("%10d%5d%5d%5d %-20s %-20s\n", 0, 0, 0, 0, "NONE", "NONE");
    char value[32];
    for (size_t k = 0; k < n; ++k) {
        std::snprintf(value, sizeof value, "%20.12E", static_cast<double>(channel.samples[k]));
        text += value;
        if (k % 4 == 3 || k + 1 == n) text += '\n';
    }
    text += "    -1\n";
    OutputFile file(path);
    file.write(text);
    file.close();
}

}  // namespace quorel
