#include "record_writers.hpp"

#include <hdf5.h>
#include <matio.h>
#include <sndfile.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace quorel::tools {

namespace {

[[noreturn]] void failed(const std::string& what) { throw std::runtime_error(what); }

matvar_t* mat_variable(const MatVariable& v) {
    if (!v.fields.empty()) {
        std::vector<const char*> names;
        for (const MatVariable& f : v.fields) names.push_back(f.name.c_str());
        size_t dims[2] = {1, 1};
        matvar_t* s = Mat_VarCreateStruct(v.name.c_str(), 2, dims, names.data(), static_cast<unsigned>(names.size()));
        if (s == nullptr) failed("cannot create the struct " + v.name);
        for (const MatVariable& f : v.fields) Mat_VarSetStructFieldByName(s, f.name.c_str(), 0, mat_variable(f));
        return s;
    }
    size_t dims[2] = {v.rows, v.columns};
    std::vector<float> single(v.values.begin(), v.values.end());
    void* real = v.single ? static_cast<void*>(single.data()) : const_cast<double*>(v.values.data());
    const matio_classes c = v.single ? MAT_C_SINGLE : MAT_C_DOUBLE;
    const matio_types t = v.single ? MAT_T_SINGLE : MAT_T_DOUBLE;
    matvar_t* var = nullptr;
    if (v.complex) {
        std::vector<double> zeros(v.values.size(), 0.0);
        std::vector<float> zeros_single(v.values.size(), 0.0f);
        mat_complex_split_t split{real, v.single ? static_cast<void*>(zeros_single.data()) : zeros.data()};
        var = Mat_VarCreate(v.name.c_str(), c, t, 2, dims, &split, MAT_F_COMPLEX);
    } else {
        var = Mat_VarCreate(v.name.c_str(), c, t, 2, dims, real, 0);
    }
    if (var == nullptr) failed("cannot create the variable " + v.name);
    return var;
}

}  // namespace

void write_mat(const std::string& path, const std::vector<MatVariable>& variables, MatVersion version) {
    mat_t* mat = Mat_CreateVer(path.c_str(), nullptr, version == MatVersion::v73 ? MAT_FT_MAT73 : MAT_FT_MAT5);
    if (mat == nullptr) failed("cannot create " + path);
    for (const MatVariable& v : variables) {
        matvar_t* var = mat_variable(v);
        const int status =
            Mat_VarWrite(mat, var, version == MatVersion::v5_compressed ? MAT_COMPRESSION_ZLIB : MAT_COMPRESSION_NONE);
        Mat_VarFree(var);
        if (status != 0) {
            Mat_Close(mat);
            failed("cannot write the variable " + v.name + " to " + path);
        }
    }
    Mat_Close(mat);
}

void write_wav(const std::string& path, const std::vector<std::vector<double>>& channels, int sample_rate,
               WavEncoding encoding, bool rf64) {
    SF_INFO info{};
    info.samplerate = sample_rate;
    info.channels = static_cast<int>(channels.size());
    const int subtype = encoding == WavEncoding::pcm16   ? SF_FORMAT_PCM_16
                        : encoding == WavEncoding::pcm24 ? SF_FORMAT_PCM_24
                        : encoding == WavEncoding::pcm32 ? SF_FORMAT_PCM_32
                        : encoding == WavEncoding::float32 ? SF_FORMAT_FLOAT
                                                           : SF_FORMAT_DOUBLE;
    info.format = (rf64 ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | subtype;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) failed("cannot create " + path + ": " + sf_strerror(nullptr));
    const size_t frames = channels.empty() ? 0 : channels.front().size();
    const size_t n = channels.size();
    sf_count_t written = 0;
    if (encoding == WavEncoding::float32 || encoding == WavEncoding::float64) {
        std::vector<double> interleaved(frames * n);
        for (size_t k = 0; k < frames; ++k) {
            for (size_t c = 0; c < n; ++c) interleaved[k * n + c] = channels[c][k];
        }
        written = sf_writef_double(file, interleaved.data(), static_cast<sf_count_t>(frames));
    } else {
        // libsndfile's int samples span 32 bits: a 16-bit k is k << 16.
        const int shift = encoding == WavEncoding::pcm16 ? 16 : (encoding == WavEncoding::pcm24 ? 8 : 0);
        std::vector<int> interleaved(frames * n);
        for (size_t k = 0; k < frames; ++k) {
            for (size_t c = 0; c < n; ++c) {
                interleaved[k * n + c] = static_cast<int>(static_cast<uint32_t>(static_cast<int64_t>(channels[c][k])) << shift);
            }
        }
        written = sf_writef_int(file, interleaved.data(), static_cast<sf_count_t>(frames));
    }
    sf_close(file);
    if (written != static_cast<sf_count_t>(frames)) failed("cannot write " + path);
}

void write_hdf5(const std::string& path, const std::vector<Hdf5Dataset>& datasets,
                const std::vector<Hdf5GroupAttribute>& group_attributes) {
    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0) failed("cannot create " + path);
    const hid_t links = H5Pcreate(H5P_LINK_CREATE);
    H5Pset_create_intermediate_group(links, 1);
    const hid_t scalar = H5Screate(H5S_SCALAR);
    auto attribute = [&](hid_t object, const std::string& name, double value) {
        const hid_t a = H5Acreate2(object, name.c_str(), H5T_IEEE_F64LE, scalar, H5P_DEFAULT, H5P_DEFAULT);
        if (a < 0 || H5Awrite(a, H5T_NATIVE_DOUBLE, &value) < 0) failed("cannot write the attribute " + name);
        H5Aclose(a);
    };
    for (const Hdf5Dataset& d : datasets) {
        const hsize_t dims[2] = {d.rows, d.columns};
        const hid_t space = H5Screate_simple(d.columns == 0 ? 1 : 2, dims, nullptr);
        const hid_t set = H5Dcreate2(file, d.path.c_str(), d.integer ? H5T_STD_I32LE : H5T_IEEE_F64LE, space, links,
                                     H5P_DEFAULT, H5P_DEFAULT);
        if (set < 0 || H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.values.data()) < 0) {
            failed("cannot write the dataset " + d.path);
        }
        for (const auto& [name, value] : d.attributes) attribute(set, name, value);
        H5Dclose(set);
        H5Sclose(space);
    }
    for (const Hdf5GroupAttribute& g : group_attributes) {
        const hid_t group = H5Oopen(file, g.group.c_str(), H5P_DEFAULT);
        if (group < 0) failed("no group " + g.group);
        attribute(group, g.name, g.value);
        H5Oclose(group);
    }
    H5Sclose(scalar);
    H5Pclose(links);
    if (H5Fclose(file) < 0) failed("cannot close " + path);
}

std::string uff58_dataset(const std::string& name, const std::vector<double>& samples, double start, double step,
                          bool binary) {
    char line[160];
    std::string text = "    -1\n";
    const size_t bytes = 8 * samples.size();
    if (binary) {
        std::snprintf(line, sizeof line, "%6d%c%6d%6d%12d%12zu%6d%6d%12d%12d\n", 58, 'b', 1, 2, 11, bytes, 0, 0, 0, 0);
        text += line;
    } else {
        text += "    58\n";
    }
    text += name + "\nNONE\n01-Jan-25 12:00:00\nNONE\nNONE\n";
    std::snprintf(line, sizeof line, "%5d%10d%5d%10d %-10s%10d%4d %-10s%10d%4d\n", 1, 0, 0, 0, "NONE", 1, 3, "NONE", 0, 0);
    text += line;
    // The step to 7 significant digits, the whole 13 columns of a positive number.
    std::snprintf(line, sizeof line, "%10d%10zu%10d%13.5E%13.6E%13.5E\n", 4, samples.size(), 1, start, step, 0.0);
    text += line;
    const char* axes[4][3] = {{"17", "Time", "s"}, {"12", "Acceleration", "G"}, {"0", "NONE", "NONE"}, {"0", "NONE", "NONE"}};
    for (const auto& axis : axes) {
        std::snprintf(line, sizeof line, "%10s%5d%5d%5d %-20s %-20s\n", axis[0], 0, 0, 0, axis[1], axis[2]);
        text += line;
    }
    if (binary) {
        for (const double v : samples) {
            uint64_t bits = std::bit_cast<uint64_t>(v);
            for (int b = 0; b < 8; ++b) text += static_cast<char>((bits >> (8 * b)) & 0xff);
        }
    } else {
        for (size_t k = 0; k < samples.size(); ++k) {
            std::snprintf(line, sizeof line, "%20.12E", samples[k]);
            text += line;
            if (k % 4 == 3 || k + 1 == samples.size()) text += '\n';
        }
    }
    text += "    -1\n";
    return text;
}

}  // namespace quorel::tools
