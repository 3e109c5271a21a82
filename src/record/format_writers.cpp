#include "record/format_writers.hpp"

#include <hdf5.h>
#include <matio.h>
#include <sndfile.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

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

// matio's and libhdf5's own messages go nowhere: a failure is told here.
void quiet_libraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        Mat_LogInitFunc("quorel", [](int, char*) {});
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    });
}

struct VarFreer {
    void operator()(matvar_t* var) const { Mat_VarFree(var); }
};
using MatVarPointer = std::unique_ptr<matvar_t, VarFreer>;

// The matio variable of `v`, or null if it could not be made.  matio copies
// the data given it, so the buffers here may go once it is made.
MatVarPointer mat_variable(const MatVariable& v) {
    size_t dims[2] = {v.rows, v.columns};
    if (!v.fields.empty()) {
        std::vector<const char*> names;
        for (const MatVariable& f : v.fields) names.push_back(f.name.c_str());
        dims[0] = dims[1] = 1;
        MatVarPointer s(
            Mat_VarCreateStruct(v.name.c_str(), 2, dims, names.data(), static_cast<unsigned>(names.size())));
        if (s == nullptr) return nullptr;
        for (const MatVariable& f : v.fields) {
            MatVarPointer field = mat_variable(f);
            if (field == nullptr) return nullptr;
            // The struct owns the field from here.
            Mat_VarSetStructFieldByName(s.get(), f.name.c_str(), 0, field.release());
        }
        return s;
    }
    if (v.text) {
        dims[0] = 1;
        dims[1] = v.text->size();
        return MatVarPointer(Mat_VarCreate(v.name.c_str(), MAT_C_CHAR, MAT_T_UINT8, 2, dims,
                                           const_cast<char*>(v.text->data()), 0));
    }
    std::vector<float> single(v.values.begin(), v.values.end());
    void* real = v.single ? static_cast<void*>(single.data()) : const_cast<double*>(v.values.data());
    const matio_classes c = v.single ? MAT_C_SINGLE : MAT_C_DOUBLE;
    const matio_types t = v.single ? MAT_T_SINGLE : MAT_T_DOUBLE;
    if (!v.complex) return MatVarPointer(Mat_VarCreate(v.name.c_str(), c, t, 2, dims, real, 0));
    std::vector<double> zeros(v.values.size(), 0.0);
    std::vector<float> zeros_single(v.values.size(), 0.0f);
    mat_complex_split_t split{real, v.single ? static_cast<void*>(zeros_single.data()) : zeros.data()};
    return MatVarPointer(Mat_VarCreate(v.name.c_str(), c, t, 2, dims, &split, MAT_F_COMPLEX));
}

// Closes what it holds with its own libhdf5 call when it goes.
struct Hdf5Handle {
    hid_t id;
    herr_t (*close)(hid_t);
    Hdf5Handle(hid_t id_, herr_t (*close_)(hid_t)) : id(id_), close(close_) {}
    Hdf5Handle(const Hdf5Handle&) = delete;
    Hdf5Handle& operator=(const Hdf5Handle&) = delete;
    ~Hdf5Handle() {
        if (id >= 0) close(id);
    }
};

}  // namespace

void write_mat(const std::string& path, const std::vector<MatVariable>& variables, MatVersion version) {
    quiet_libraries();
    PendingName pending(path);
    prepare_temporary(pending);
    const mat_ft type = version == MatVersion::v73 ? MAT_FT_MAT73 : MAT_FT_MAT5;
    mat_t* mat = Mat_CreateVer(pending.temporary().c_str(), nullptr, type);
    if (mat == nullptr) write_failed(path, "the MAT file could not be created");
    const matio_compression compression =
        version == MatVersion::v5_compressed ? MAT_COMPRESSION_ZLIB : MAT_COMPRESSION_NONE;
    std::string fault;
    for (const MatVariable& v : variables) {
        MatVarPointer var = mat_variable(v);
        if (var == nullptr || Mat_VarWrite(mat, var.get(), compression) != 0) {
            fault = "the MAT variable " + v.name + " could not be written";
            break;
        }
    }
    if (Mat_Close(mat) != 0 && fault.empty()) fault = "the MAT file could not be completed";
    if (!fault.empty()) write_failed(path, fault);
    pending.commit();
}

void write_wav(const std::string& path, const std::vector<std::vector<double>>& channels, double sample_rate,
               WavEncoding encoding, bool rf64) {
    if (!(sample_rate >= 1.0 && sample_rate <= 2147483647.0) || sample_rate != std::floor(sample_rate)) {
        write_failed(path, format("a WAV file holds a whole number of samples/sec, not %.9g", sample_rate));
    }
    const size_t frames = channels.empty() ? 0 : channels.front().size();
    const size_t n = channels.size();
    for (const std::vector<double>& channel : channels) {
        if (channel.size() != frames) write_failed(path, "the channels of a WAV file are all of one length");
    }
    PendingName pending(path);
    prepare_temporary(pending);
    SF_INFO info{};
    info.samplerate = static_cast<int>(sample_rate);
    info.channels = static_cast<int>(n);
    const int subtype = encoding == WavEncoding::pcm16     ? SF_FORMAT_PCM_16
                        : encoding == WavEncoding::pcm24   ? SF_FORMAT_PCM_24
                        : encoding == WavEncoding::pcm32   ? SF_FORMAT_PCM_32
                        : encoding == WavEncoding::float32 ? SF_FORMAT_FLOAT
                                                           : SF_FORMAT_DOUBLE;
    info.format = (rf64 ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | subtype;
    SNDFILE* file = sf_open(pending.temporary().c_str(), SFM_WRITE, &info);
    if (file == nullptr) write_failed(path, sf_strerror(nullptr));
    // Samples beyond ±1 are kept as they are, not clipped.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_FALSE);
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
                interleaved[k * n + c] =
                    static_cast<int>(static_cast<uint32_t>(static_cast<int64_t>(channels[c][k])) << shift);
            }
        }
        written = sf_writef_int(file, interleaved.data(), static_cast<sf_count_t>(frames));
    }
    const std::string reason = written == static_cast<sf_count_t>(frames) ? "" : sf_strerror(file);
    if (sf_close(file) != 0 && reason.empty()) write_failed(path, "the file could not be completed");
    if (!reason.empty()) write_failed(path, reason);
    pending.commit();
}

void write_hdf5(const std::string& path, const std::vector<Hdf5Dataset>& datasets,
                const std::vector<Hdf5GroupAttribute>& group_attributes) {
    quiet_libraries();
    PendingName pending(path);
    prepare_temporary(pending);
    std::string fault;
    {
        Hdf5Handle file(H5Fcreate(pending.temporary().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
        if (file.id < 0) write_failed(path, "the HDF5 file could not be created");
        Hdf5Handle links(H5Pcreate(H5P_LINK_CREATE), H5Pclose);
        H5Pset_create_intermediate_group(links.id, 1);
        Hdf5Handle scalar(H5Screate(H5S_SCALAR), H5Sclose);
        // A scalar attribute stored as `stored`, given as `given`.
        auto attribute = [&](hid_t object, const std::string& name, hid_t stored, hid_t given, const void* value) {
            Hdf5Handle a(H5Acreate2(object, name.c_str(), stored, scalar.id, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
            const bool ok = a.id >= 0 && H5Awrite(a.id, given, value) >= 0;
            if (!ok) fault = "the attribute " + name + " could not be written";
            return ok;
        };
        for (const Hdf5Dataset& d : datasets) {
            const hsize_t dims[2] = {d.rows, d.columns};
            Hdf5Handle space(H5Screate_simple(d.columns == 0 ? 1 : 2, dims, nullptr), H5Sclose);
            Hdf5Handle set(H5Dcreate2(file.id, d.path.c_str(), d.integer ? H5T_STD_I32LE : H5T_IEEE_F64LE, space.id,
                                      links.id, H5P_DEFAULT, H5P_DEFAULT),
                           H5Dclose);
            if (set.id < 0 || H5Dwrite(set.id, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.values.data()) < 0) {
                fault = "the dataset " + d.path + " could not be written";
                break;
            }
            for (const auto& [name, value] : d.attributes) {
                if (!attribute(set.id, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &value)) break;
            }
            for (const auto& [name, value] : d.text_attributes) {
                if (!fault.empty()) break;
                Hdf5Handle text(H5Tcopy(H5T_C_S1), H5Tclose);
                H5Tset_size(text.id, value.empty() ? 1 : value.size());
                attribute(set.id, name, text.id, text.id, value.c_str());
            }
            if (!fault.empty()) break;
        }
        for (const Hdf5GroupAttribute& g : group_attributes) {
            if (!fault.empty()) break;
            Hdf5Handle group(H5Oopen(file.id, g.group.c_str(), H5P_DEFAULT), H5Oclose);
            if (group.id < 0) {
                fault = "there is no group " + g.group;
                break;
            }
            attribute(group.id, g.name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &g.value);
        }
        const hid_t closing = file.id;
        file.id = -1;
        if (H5Fclose(closing) < 0 && fault.empty()) fault = "the HDF5 file could not be completed";
    }
    if (!fault.empty()) write_failed(path, fault);
    pending.commit();
}

std::string uff58_dataset(const Uff58Header& header, std::span<const double> samples) {
    const size_t n = samples.size();
    std::string text = "    -1\n";
    if (header.binary) {
        text += format("%6d%c%6d%6d%12d%12zu%6d%6d%12d%12d\n", 58, 'b', 1, 2, 11, 8 * n, 0, 0, 0, 0);
    } else {
        text += "    58\n";
    }
    text += header.name.substr(0, 80) + "\nNONE\n" + header.created + "\nNONE\n" + header.note + "\n";
    text += format("%5d%10d%5d%10d %-10s%10d%4d %-10s%10d%4d\n", 1, 0, 0, 0, "NONE", 1, header.direction, "NONE", 0, 0);
    // The step to 7 significant digits, the whole 13 columns of a positive number.
    text += format("%10d%10zu%10d%13.5E%13.6E%13.5E\n", 4, n, 1, header.start, header.step, 0.0);
    text += format("%10d%5d%5d%5d %-20s %-20s\n", 17, 0, 0, 0, "Time", "s");
    text += format("%10d%5d%5d%5d %-20s %-20s\n", 12, 0, 0, 0, "Acceleration", header.unit.substr(0, 20).c_str());
    for (int k = 0; k < 2; ++k) text += format("%10d%5d%5d%5d %-20s %-20s\n", 0, 0, 0, 0, "NONE", "NONE");
    if (header.binary) {
        for (const double v : samples) {
            const uint64_t bits = std::bit_cast<uint64_t>(v);
            for (int b = 0; b < 8; ++b) text += static_cast<char>((bits >> (8 * b)) & 0xff);
        }
    } else {
        char value[32];
        for (size_t k = 0; k < n; ++k) {
            std::snprintf(value, sizeof value, "%20.12E", samples[k]);
            text += value;
            if (k % 4 == 3 || k + 1 == n) text += '\n';
        }
    }
    text += "    -1\n";
    return text;
}

void write_uff58(const std::string& path, const Uff58Header& header, std::span<const double> samples) {
    const std::string text = uff58_dataset(header, samples);
    OutputFile file(path);
    file.write(text);
    file.close();
}

}  // namespace quorel
