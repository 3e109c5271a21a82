// MATLAB files, v5 (compressed or not) and v7.3 (HDF5 inside), read by
// libmatio.
#include <fcntl.h>
#include <matio.h>
#include <zlib.h>
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

// The bytes of a v5 file as the frame check sees them: the file itself, or
// the inflated stream of one compressed variable, inflated only as far as
// the check reads.
class V5Bytes {
public:
    explicit V5Bytes(int fd) : fd_(fd) {}
    V5Bytes(int fd, uint64_t at, uint64_t size) : fd_(fd), compressed_(true), next_in_(at), end_in_(at + size) {
        stream_.zalloc = Z_NULL;
        stream_.zfree = Z_NULL;
        stream_.opaque = Z_NULL;
        open_ = inflateInit(&stream_) == Z_OK;
    }
    V5Bytes(const V5Bytes&) = delete;
    V5Bytes& operator=(const V5Bytes&) = delete;
    ~V5Bytes() {
        if (open_) inflateEnd(&stream_);
    }

    // Up to n bytes at `at` into out: how many there are.
    size_t read(uint64_t at, unsigned char* out, size_t n) {
        if (!compressed_) {
            const ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(at));
            return got < 0 ? 0 : static_cast<size_t>(got);
        }
        while (open_ && inflated_.size() < at + n) {
            if (inflated_.size() >= max_inflated) {
                capped_ = true;
                return 0;
            }
            more();
        }
        if (at >= inflated_.size()) return 0;
        const size_t got = std::min<size_t>(n, inflated_.size() - at);
        std::memcpy(out, inflated_.data() + at, got);
        return got;
    }
    // What a compressed stream may be followed to: beyond it, the check stops
    // (the headers a hostile file could lie in come first).
    static constexpr size_t max_inflated = size_t{64} << 20;
    bool capped() const { return capped_; }

private:
    void more() {
        unsigned char in[16384];
        const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof in, end_in_ - next_in_));
        const ssize_t got = want == 0 ? 0 : ::pread(fd_, in, want, static_cast<off_t>(next_in_));
        if (got <= 0) {
            open_ = false;
            return;
        }
        next_in_ += static_cast<uint64_t>(got);
        stream_.next_in = in;
        stream_.avail_in = static_cast<uInt>(got);
        unsigned char out[65536];
        do {
            stream_.next_out = out;
            stream_.avail_out = sizeof out;
            const int status = inflate(&stream_, Z_NO_FLUSH);
            inflated_.insert(inflated_.end(), out, out + (sizeof out - stream_.avail_out));
            if (status == Z_BUF_ERROR) return;   // no progress without more input: the next call brings it
            if (status != Z_OK) {
                open_ = false;   // the stream's end, or damage libmatio will meet itself
                return;
            }
        } while (stream_.avail_in > 0 || stream_.avail_out == 0);
    }

    int fd_;
    bool compressed_ = false;
    bool open_ = false;
    bool capped_ = false;
    uint64_t next_in_ = 0, end_in_ = 0;
    z_stream stream_{};
    std::vector<unsigned char> inflated_;
};

// One element's tag: its type, its size, where its data start and where the
// next element does. A small element packs size and type in one word and
// its data (up to 4 bytes) in the next.
struct V5Element {
    uint32_t type = 0, bytes = 0;
    uint64_t data = 0, next = 0;
};

// The walk of a variable's headers, as libmatio reads them when it lists a
// file: the array flags, the dimensions, the name, and below a struct, an
// object or a cell array, the field names and each element's own headers.
// libmatio sizes its work by these fields before it checks them against
// what holds them (field names declared as a gigabyte, say), so that a
// damaged one could cost seconds and gigabytes; each must lie within its
// variable.
class V5Walk {
public:
    V5Walk(V5Bytes& bytes, bool little) : bytes_(bytes), little_(little) {}

    std::string fault;

    // The element at `at`, within [at, end): nothing when it is not there.
    std::optional<V5Element> element(uint64_t at, uint64_t end) {
        unsigned char tag[8];
        if (at + 8 > end || bytes_.read(at, tag, 8) < 8) return std::nullopt;
        V5Element e;
        const uint32_t first = word(tag, little_);
        if ((first >> 16) != 0) {
            e.type = first & 0xffff;
            e.bytes = first >> 16;
            e.data = at + 4;
            e.next = at + 8;
            if (e.bytes > 4) return std::nullopt;
        } else {
            e.type = first;
            e.bytes = word(tag + 4, little_);
            e.data = at + 8;
            e.next = e.data + (static_cast<uint64_t>(e.bytes) + 7) / 8 * 8;
            if (e.data + e.bytes > end) return std::nullopt;
        }
        return e;
    }

    // The variable (miMATRIX) whose data are [at, end).
    void matrix(uint64_t at, uint64_t end, uint64_t where, int depth) {
        if (!fault.empty() || end == at) return;   // an empty cell or field
        if (depth > max_depth) {
            damaged(where, format("it nests structs, objects or cells more than %d deep", max_depth));
            return;
        }
        if (++visited_ > max_visited) {
            damaged(where, "it holds more than a million structs, objects or cells");
            return;
        }
        unsigned char flags[8];
        const auto f = element(at, end);
        if (!f || f->type != 6 || f->bytes != 8 || bytes_.read(f->data, flags, 8) < 8) {
            damaged(where, "its array flags are not 8 bytes");
            return;
        }
        const uint32_t class_type = word(flags, little_) & 0xff;
        const auto d = element(f->next, end);
        if (!d || d->type != 5 || d->bytes % 4 != 0 || d->bytes == 0) {
            damaged(where, "its dimensions are not whole 4-byte counts within it");
            return;
        }
        uint64_t count = 1;
        for (uint32_t k = 0; k < d->bytes / 4; ++k) {
            unsigned char dim[4];
            if (bytes_.read(d->data + 4 * k, dim, 4) < 4) return;
            count = std::min<uint64_t>(count * word(dim, little_), uint64_t{1} << 40);
        }
        const auto name = element(d->next, end);
        if (!name) {
            damaged(where, "its name is not within it");
            return;
        }
        uint64_t next = name->next;
        if (class_type == 1) {   // a cell array: one variable per element
            for (uint64_t k = 0; k < count && fault.empty(); ++k) next = below(next, end, where, depth);
            return;
        }
        if (class_type != 2 && class_type != 3) return;   // the rest is data, read only when asked for
        if (class_type == 3) {   // an object: its class name, then a struct's fields
            const auto class_name = element(next, end);
            if (!class_name) {
                damaged(where, "its class name is not within it");
                return;
            }
            next = class_name->next;
        }
        const auto length = element(next, end);
        unsigned char length_bytes[4];
        if (!length || length->bytes != 4 || bytes_.read(length->data, length_bytes, 4) < 4) {
            damaged(where, "its field-name length is not within it");
            return;
        }
        const uint32_t name_length = word(length_bytes, little_);
        const auto names = element(length->next, end);
        unsigned char last = 0;
        if (!names || (name_length == 0 && names->bytes != 0) || (name_length != 0 && names->bytes % name_length != 0) ||
            (names->bytes > 0 && bytes_.read(names->data + names->bytes - 1, &last, 1) < 1)) {
            damaged(where, "its field names are not within it");
            return;
        }
        const uint64_t fields = name_length == 0 ? 0 : names->bytes / name_length;
        next = names->next;
        for (uint64_t k = 0; k < count * fields && fault.empty(); ++k) next = below(next, end, where, depth);
    }

private:
    // One variable below another: its own headers walked; where the next one is.
    uint64_t below(uint64_t at, uint64_t end, uint64_t where, int depth) {
        const auto e = element(at, end);
        if (!e || e->type != 14) {
            damaged(where, "the elements of a struct or cell in it are not within it");
            return end;
        }
        matrix(e->data, e->data + e->bytes, where, depth + 1);
        return e->next;
    }

    // Past what a compressed stream is followed to, nothing is judged.
    void damaged(uint64_t where, const std::string& why) {
        if (fault.empty() && !bytes_.capped()) {
            fault = format("its variable at byte %llu is damaged: %s", static_cast<unsigned long long>(where), why.c_str());
        }
    }

    static constexpr int max_depth = 64;
    static constexpr uint64_t max_visited = 1000000;
    V5Bytes& bytes_;
    bool little_;
    uint64_t visited_ = 0;
};

// The frame of a v5 file, checked before libmatio reads it: after the
// 128-byte header, elements of an 8-byte tag (type, size) and their data,
// each within the file; each variable's (miMATRIX, 14, or miCOMPRESSED, 15,
// inflated) headers within it.
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
    V5Bytes in_file(fd);
    for (int elements = 0; v5 && fault.empty() && at + 8 <= size && elements < 1000000; ++elements) {
        unsigned char tag[8];
        if (in_file.read(at, tag, 8) < 8) break;
        const uint32_t type = word(tag, little), bytes = word(tag + 4, little);
        if (at + 8 + bytes > size) {
            fault = format("its element at byte %llu declares %u bytes, more than the file holds: it is cut short or "
                           "damaged",
                           static_cast<unsigned long long>(at), bytes);
        } else if (type == 14) {
            V5Walk walk(in_file, little);
            walk.matrix(at + 8, at + 8 + bytes, at, 0);
            fault = walk.fault;
        } else if (type == 15) {
            V5Bytes inflated(fd, at + 8, bytes);
            V5Walk walk(inflated, little);
            const auto e = walk.element(0, V5Bytes::max_inflated);
            if (e && e->type == 14) walk.matrix(e->data, e->data + e->bytes, at, 0);
            fault = walk.fault;
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
