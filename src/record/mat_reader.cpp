// MATLAB files, v5 (compressed or not) and v7.3 (HDF5 inside), read by
// libmatio.
#include <fcntl.h>
#include <matio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "base/format.hpp"
#include "record/channel_selection.hpp"
#include "record/format_readers.hpp"
#include "record/isolated_read.hpp"

namespace quorel {

namespace {

// matio's own logger prints to standard error, and ends the process on an
// "error" level message; every fault comes back as a null or a status here
// and is told in the reader's own words, so its messages are dropped.
void quiet_matio_log(int, char*) {}

void quiet_matio() {
    static std::once_flag once;
    std::call_once(once, [] { Mat_LogInitFunc("quorel", quiet_matio_log); });
}

struct MatCloser {
    void operator()(mat_t* mat) const { Mat_Close(mat); }
};
struct VarFreer {
    void operator()(matvar_t* var) const { Mat_VarFree(var); }
};
using MatFile = std::unique_ptr<mat_t, MatCloser>;
using MatVar = std::unique_ptr<matvar_t, VarFreer>;

// Variables a file may list, and struct fields below a variable: bounds on
// what a damaged or hostile file can make the listing do.
constexpr size_t max_variables = 100000;
constexpr int max_struct_depth = 8;

bool numeric_class(matio_classes c) {
    return c == MAT_C_DOUBLE || c == MAT_C_SINGLE || (c >= MAT_C_INT8 && c <= MAT_C_UINT64);
}

int element_size(matio_classes c) {
    switch (c) {
        case MAT_C_DOUBLE: case MAT_C_INT64: case MAT_C_UINT64: return 8;
        case MAT_C_SINGLE: case MAT_C_INT32: case MAT_C_UINT32: return 4;
        case MAT_C_INT16: case MAT_C_UINT16: return 2;
        default: return 1;
    }
}

const char* class_words(matio_classes c) {
    switch (c) {
        case MAT_C_EMPTY: return "is empty";
        case MAT_C_CELL: return "is a cell array";
        case MAT_C_STRUCT: return "is a struct array";
        case MAT_C_OBJECT: return "is an object";
        case MAT_C_CHAR: return "holds text";
        case MAT_C_SPARSE: return "is a sparse matrix";
        case MAT_C_FUNCTION: return "is a function handle";
        default: return "is not a numeric array";
    }
}

// Where a channel's samples are: a top-level variable, the fields below it,
// and the column (-1: the whole vector).
struct MatChannel {
    std::string variable;
    std::vector<std::string> fields;
    int64_t column = -1;
    size_t rows = 0;
};

struct MatListing {
    ChannelListing listing;
    std::vector<MatChannel> where;   // beside listing.channels
    std::vector<size_t> bytes;       // per channel's variable: its size in memory, as declared
    double byte_limit = 0.0;         // what the file could hold, inflated
};

size_t element_count(const matvar_t* var) {
    size_t n = 1;
    for (int d = 0; d < var->rank; ++d) {
        if (var->dims[d] != 0 && n > SIZE_MAX / var->dims[d]) return SIZE_MAX;
        n *= var->dims[d];
    }
    return n;
}

// Columns of one matrix listed as channels, at most.
constexpr size_t max_columns = 100000;

void list_variable(const matvar_t* var, const std::string& name, const MatChannel& at, int depth, MatListing& out) {
    if (var == nullptr) return;
    if (var->class_type == MAT_C_STRUCT) {
        if (var->rank < 1 || var->dims == nullptr || element_count(var) != 1) {
            out.listing.others.push_back({name, "is a struct array (only a single struct's fields are records)"});
            return;
        }
        if (depth >= max_struct_depth) return;
        const unsigned count = Mat_VarGetNumberOfFields(const_cast<matvar_t*>(var));
        char* const* names = Mat_VarGetStructFieldnames(var);
        if (names == nullptr) return;
        for (unsigned f = 0; f < count; ++f) {
            if (names[f] == nullptr) continue;
            MatChannel below = at;
            below.fields.push_back(names[f]);
            list_variable(Mat_VarGetStructFieldByIndex(const_cast<matvar_t*>(var), f, 0), name + "." + names[f], below,
                          depth + 1, out);
        }
        return;
    }
    if (!numeric_class(var->class_type) || var->rank < 2 || var->dims == nullptr) {
        out.listing.others.push_back({name, class_words(var->class_type)});
        return;
    }
    if (var->isLogical) {
        out.listing.others.push_back({name, "holds logical values"});
        return;
    }
    if (var->isComplex) {
        out.listing.others.push_back({name, "is complex: a record is real"});
        return;
    }
    const size_t n = element_count(var);
    int long_dims = 0;
    for (int d = 0; d < var->rank; ++d) long_dims += var->dims[d] > 1 ? 1 : 0;
    if (n < 2) {
        out.listing.others.push_back({name, n == 0 ? "is empty" : "is a scalar"});
        return;
    }
    if (long_dims > 2 || (long_dims == 2 && var->rank > 2)) {
        out.listing.others.push_back({name, format("has %d dimensions: a record is a vector or the columns of a matrix",
                                                   var->rank)});
        return;
    }
    const size_t bytes = n == SIZE_MAX || n > SIZE_MAX / 8 ? SIZE_MAX : n * static_cast<size_t>(element_size(var->class_type));
    // A compressed variable may inflate a thousandfold and no more: a size
    // declared beyond that is a damaged or hostile header.
    if (static_cast<double>(bytes) > out.byte_limit) {
        out.listing.others.push_back({name, "declares more data than the file could hold: it is damaged"});
        return;
    }
    if (long_dims == 1) {
        MatChannel c = at;
        c.rows = n;
        out.listing.channels.push_back({name, name});
        out.where.push_back(c);
        out.bytes.push_back(bytes);
        return;
    }
    const size_t rows = var->dims[0], columns = var->dims[1];
    if (columns > max_columns) {
        out.listing.others.push_back({name, format("has %zu columns: at most %zu are read", columns, max_columns)});
        return;
    }
    for (size_t k = 0; k < columns; ++k) {
        MatChannel c = at;
        c.rows = rows;
        c.column = static_cast<int64_t>(k);
        out.listing.channels.push_back({format("%s:%zu", name.c_str(), k + 1), name});
        out.where.push_back(c);
        out.bytes.push_back(bytes);
    }
}

template <class T>
void copy_column(const void* data, size_t offset, size_t rows, std::vector<double>& out) {
    const T* values = static_cast<const T*>(data) + offset;
    out.resize(rows);
    for (size_t k = 0; k < rows; ++k) out[k] = static_cast<double>(values[k]);
}

// The samples of one channel of a variable read whole.
std::vector<double> channel_samples(const std::string& file, const std::string& name, const matvar_t* var,
                                    const MatChannel& c) {
    if (var == nullptr || var->data == nullptr || !numeric_class(var->class_type) || var->isComplex) {
        refuse_record(file, format("variable %s cannot be read: its data are damaged", shown_name(name).c_str()));
    }
    const size_t n = element_count(var);
    const size_t size = static_cast<size_t>(element_size(var->class_type));
    const size_t offset = c.column < 0 ? 0 : static_cast<size_t>(c.column) * c.rows;
    if (n == SIZE_MAX || static_cast<size_t>(var->data_size) != size || var->nbytes < n * size || offset + c.rows > n) {
        refuse_record(file, format("variable %s cannot be read: its size does not match its dimensions",
                                   shown_name(name).c_str()));
    }
    std::vector<double> out;
    switch (var->class_type) {
        case MAT_C_DOUBLE: copy_column<double>(var->data, offset, c.rows, out); break;
        case MAT_C_SINGLE: copy_column<float>(var->data, offset, c.rows, out); break;
        case MAT_C_INT8: copy_column<int8_t>(var->data, offset, c.rows, out); break;
        case MAT_C_UINT8: copy_column<uint8_t>(var->data, offset, c.rows, out); break;
        case MAT_C_INT16: copy_column<int16_t>(var->data, offset, c.rows, out); break;
        case MAT_C_UINT16: copy_column<uint16_t>(var->data, offset, c.rows, out); break;
        case MAT_C_INT32: copy_column<int32_t>(var->data, offset, c.rows, out); break;
        case MAT_C_UINT32: copy_column<uint32_t>(var->data, offset, c.rows, out); break;
        case MAT_C_INT64: copy_column<int64_t>(var->data, offset, c.rows, out); break;
        default: copy_column<uint64_t>(var->data, offset, c.rows, out); break;
    }
    return out;
}

// The variable `path` ("VAR" or "VAR.FIELD...") read whole, and the struct
// field it names inside it.
struct ReadVariable {
    MatVar top;
    const matvar_t* var = nullptr;
};

ReadVariable read_variable(mat_t* mat, const std::string& file, const std::string& variable,
                           const std::vector<std::string>& fields) {
    ReadVariable out;
    {
        MatVar info(Mat_VarReadInfo(mat, variable.c_str()));
        if (!info) refuse_record(file, format("has no variable %s", shown_name(variable).c_str()));
    }
    out.top.reset(Mat_VarRead(mat, variable.c_str()));
    if (!out.top) {
        refuse_record(file, format("variable %s cannot be read: its data are damaged or cut short",
                                   shown_name(variable).c_str()));
    }
    const matvar_t* var = out.top.get();
    std::string name = variable;
    for (const std::string& field : fields) {
        name += "." + field;
        if (var->class_type != MAT_C_STRUCT) refuse_record(file, format("has no variable %s", shown_name(name).c_str()));
        var = Mat_VarGetStructFieldByName(const_cast<matvar_t*>(var), field.c_str(), 0);
        if (var == nullptr) refuse_record(file, format("has no variable %s", shown_name(name).c_str()));
    }
    out.var = var;
    return out;
}

// The rate variable: "VAR" or "VAR.FIELD", a real positive finite scalar.
double rate_of_variable(mat_t* mat, const std::string& file, const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t dot = path.find('.', start);
        parts.push_back(path.substr(start, dot == std::string::npos ? dot : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    const std::string variable = parts.front();
    parts.erase(parts.begin());
    if (variable.empty()) refuse_record(file, format("has no variable %s", shown_name(path).c_str()));
    const ReadVariable read = read_variable(mat, file, variable, parts);
    const matvar_t* var = read.var;
    if (!numeric_class(var->class_type) || var->isComplex || var->isLogical || element_count(var) != 1 ||
        var->data == nullptr) {
        refuse_record(file, format("variable %s is not a real number, so not a sample rate (--rate-variable)",
                                   shown_name(path).c_str()));
    }
    MatChannel scalar;
    scalar.rows = 1;
    const double rate = channel_samples(file, path, var, scalar).front();
    if (!(std::isfinite(rate) && rate > 0.0)) {
        refuse_record(file, format("variable %s holds %g, not a sample rate above zero (--rate-variable)",
                                   shown_name(path).c_str(), rate));
    }
    return rate;
}

uint32_t word(const unsigned char* b, bool little) {
    return little ? b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24)
                  : b[3] | (b[2] << 8) | (b[1] << 16) | (static_cast<uint32_t>(b[0]) << 24);
}

// The frame of a v5 file, checked before libmatio reads it: after the
// 128-byte header, elements of an 8-byte tag (type, size) and their data,
// each within the file; a variable (miMATRIX, 14) opens with its array flags
// (miUINT32, 8 bytes) and its dimensions (miINT32, whole 4-byte counts).
// libmatio sizes its work by these fields before it checks them, so that a
// damaged one could cost seconds and gigabytes.
void check_v5_frame(const std::string& file, uint64_t size) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    unsigned char header[128];
    bool little = true;
    bool v5 = ::pread(fd, header, 128, 0) == 128 && (header[126] == 'I' || header[126] == 'M');
    if (v5) {
        little = header[126] == 'I';
        v5 = (little ? header[124] | (header[125] << 8) : (header[124] << 8) | header[125]) == 0x0100;
    }
    std::string fault;
    uint64_t at = 128;
    for (int elements = 0; v5 && fault.empty() && at + 8 <= size && elements < 1000000; ++elements) {
        unsigned char tag[32] = {};
        const ssize_t got = ::pread(fd, tag, sizeof tag, static_cast<off_t>(at));
        if (got < 8) break;
        const uint32_t type = word(tag, little), bytes = word(tag + 4, little);
        if (at + 8 + bytes > size) {
            fault = format("its element at byte %llu declares %u bytes, more than the file holds: it is cut short or "
                           "damaged",
                           static_cast<unsigned long long>(at), bytes);
        } else if (type == 14 && bytes > 0) {
            if (bytes < 32 || got < 32 || word(tag + 8, little) != 6 || word(tag + 12, little) != 8) {
                fault = format("its variable at byte %llu is damaged: its array flags are not 8 bytes",
                               static_cast<unsigned long long>(at));
            } else {
                const uint32_t dims = word(tag + 28, little);
                if (word(tag + 24, little) != 5 || dims % 4 != 0 || dims > bytes - 24) {
                    fault = format("its variable at byte %llu is damaged: its dimensions are not whole 4-byte counts "
                                   "within it",
                                   static_cast<unsigned long long>(at));
                }
            }
        }
        at += 8 + static_cast<uint64_t>(bytes);
    }
    ::close(fd);
    if (!fault.empty()) refuse_record(file, fault);
}

}  // namespace

namespace {

// The reader itself, in the process that calls it.
std::vector<ChannelRecord> read_in_process_mat_records(const std::string& file, const std::string& selector,
                                                       const RecordRequest& request) {
    quiet_matio();
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) refuse_record(file, "cannot be opened: no such file");
    check_v5_frame(file, static_cast<uint64_t>(info.st_size));
    MatFile mat(Mat_Open(file.c_str(), MAT_ACC_RDONLY));
    if (!mat) refuse_record(file, "cannot be read as a MAT file (v5 or v7.3): its header is damaged");
    const mat_ft version = Mat_GetVersion(mat.get());
    if (version != MAT_FT_MAT5 && version != MAT_FT_MAT73) {
        refuse_record(file, "is a MAT file of version 4: only v5 and v7.3 are read");
    }

    MatListing found;
    found.listing.kind = "variable";
    found.byte_limit = 1100.0 * static_cast<double>(info.st_size) + 65536.0;
    size_t variables = 0;
    for (;;) {
        MatVar var(Mat_VarReadNextInfo(mat.get()));
        if (!var) break;
        if (++variables > max_variables) refuse_record(file, "holds more than 100000 variables: not a record");
        if (var->name == nullptr || var->name[0] == '\0') continue;   // no name, no way to read it
        const std::string name = var->name;
        MatChannel at;
        at.variable = name;
        list_variable(var.get(), name, at, 0, found);
    }

    const std::vector<size_t> chosen =
        select_channels(file, found.listing, selector, request.channels, DefaultChannels::one_group);
    const double rate = request.rate_variable ? rate_of_variable(mat.get(), file, *request.rate_variable)
                                              : given_sample_rate(file, "", request, "--rate-variable");

    std::vector<ChannelRecord> records;
    std::optional<std::string> current_path;
    ReadVariable read;
    for (const size_t i : chosen) {
        const ChannelEntry& entry = found.listing.channels[i];
        const MatChannel& c = found.where[i];
        std::string path = c.variable;
        for (const std::string& field : c.fields) path += "." + field;
        if (path != current_path) {
            read = read_variable(mat.get(), file, c.variable, c.fields);
            current_path = path;
        }
        if (read.var->rank < 2 || read.var->dims == nullptr || element_count(read.var) < c.rows) {
            refuse_record(file, format("variable %s changed its size between its header and its data: it is damaged",
                                       shown_name(entry.group).c_str()));
        }
        ChannelRecord r;
        r.channel = entry.name;
        r.name = file + ":" + entry.name;
        r.format = RecordFormat::mat;
        r.record.file = file;
        r.record.samples = channel_samples(file, entry.name, read.var, c);
        r.record.sample_rate = rate;
        check_channel_samples(file, "variable " + shown_name(entry.name), r.record.samples);
        records.push_back(std::move(r));
    }
    return records;
}

}  // namespace

std::vector<ChannelRecord> read_mat_records(const std::string& file, const std::string& selector,
                                            const RecordRequest& request) {
    return read_isolated(file, "libmatio", [&] { return read_in_process_mat_records(file, selector, request); });
}

}  // namespace quorel
