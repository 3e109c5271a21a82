// HDF5 files, read by libhdf5: numeric datasets of one or two dimensions.
#include <hdf5.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "base/format.hpp"
#include "record/channel_selection.hpp"
#include "record/format_readers.hpp"
#include "record/isolated_read.hpp"

namespace quorel {

namespace {

// libhdf5 prints a trace of every failed call on standard error; every
// failure comes back as a negative status here and is told in the reader's
// own words.
void quiet_hdf5() {
    static std::once_flag once;
    std::call_once(once, [] { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); });
}

// An identifier closed with the function of its kind.
class Handle {
public:
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    ~Handle() {
        if (id_ >= 0) close_(id_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }

private:
    hid_t id_;
    herr_t (*close_)(hid_t);
};

// Objects visited while listing: a bound on what a damaged file can make the
// listing do.
constexpr size_t max_objects = 100000;

struct Visit {
    std::vector<std::string> paths;
    bool too_many = false;
};

herr_t collect_link(hid_t, const char* name, const H5L_info_t* info, void* data) {
    Visit& visit = *static_cast<Visit*>(data);
    if (info->type != H5L_TYPE_HARD) return 0;   // soft and external links would leave the file
    if (visit.paths.size() >= max_objects) {
        visit.too_many = true;
        return 1;
    }
    visit.paths.push_back(std::string("/") + name);
    return 0;
}

struct DatasetShape {
    size_t rows = 0, columns = 0;   // samples, and channels (1 for a vector)
    bool matrix = false;
};

struct Hdf5Listing {
    ChannelListing listing;
    std::vector<std::string> dataset;   // beside listing.channels
    std::vector<DatasetShape> shape;
    std::vector<size_t> column;
    double byte_limit = 0.0;   // what the file could hold, inflated
};

void list_dataset(hid_t file, const std::string& path, Hdf5Listing& out) {
    Handle set(H5Dopen2(file, path.c_str(), H5P_DEFAULT), H5Dclose);
    if (!set.valid()) {
        out.listing.others.push_back({path, "cannot be opened: it is damaged"});
        return;
    }
    Handle type(H5Dget_type(set.get()), H5Tclose);
    const H5T_class_t type_class = type.valid() ? H5Tget_class(type.get()) : H5T_NO_CLASS;
    if (type_class != H5T_INTEGER && type_class != H5T_FLOAT) {
        const char* why = type_class == H5T_STRING     ? "holds text"
                          : type_class == H5T_COMPOUND ? "holds compound records (a table): only numbers are records"
                                                       : "does not hold numbers";
        out.listing.others.push_back({path, why});
        return;
    }
    // Numbers of 1 to 16 bytes each (up to a long double): libhdf5 sizes its
    // conversion buffers by the declared size, which a damaged header can make
    // gigabytes.
    const size_t element_bytes = H5Tget_size(type.get());
    if (element_bytes == 0 || element_bytes > 16) {
        out.listing.others.push_back({path, format("declares numbers of %zu bytes each: it is damaged", element_bytes)});
        return;
    }
    Handle space(H5Dget_space(set.get()), H5Sclose);
    const int rank = space.valid() ? H5Sget_simple_extent_ndims(space.get()) : -1;
    if (rank < 0 || rank > 2) {
        out.listing.others.push_back({path, format("has %d dimensions: a record is 1-D or the columns of a 2-D one", rank)});
        return;
    }
    hsize_t dims[2] = {1, 1};
    if (rank > 0) H5Sget_simple_extent_dims(space.get(), dims, nullptr);
    DatasetShape shape;
    if (rank == 2 && dims[0] > 1 && dims[1] > 1) {
        shape = {static_cast<size_t>(dims[0]), static_cast<size_t>(dims[1]), true};
    } else {
        const hsize_t n = rank == 0 ? 1 : (rank == 1 ? dims[0] : std::max(dims[0], dims[1]));
        shape = {static_cast<size_t>(n), 1, false};
        if (rank == 2 && dims[0] == 1) shape = {static_cast<size_t>(dims[1]), 1, false};
    }
    if (shape.rows < 2) {
        out.listing.others.push_back({path, shape.rows == 0 ? "is empty" : "is a scalar"});
        return;
    }
    // A compressed dataset inflates a thousandfold at most: a size declared
    // beyond that is a damaged or hostile header.
    const hsize_t stored = H5Dget_storage_size(set.get());
    const double bytes = static_cast<double>(std::max<size_t>(8, element_bytes)) * static_cast<double>(shape.rows) *
                         static_cast<double>(shape.columns);
    if (bytes > 1100.0 * static_cast<double>(stored) + 65536.0 || bytes > out.byte_limit) {
        out.listing.others.push_back({path, "declares more data than the file could hold: it is damaged"});
        return;
    }
    if (shape.columns > 100000) {
        out.listing.others.push_back({path, format("has %zu columns: at most 100000 are read", shape.columns)});
        return;
    }
    for (size_t k = 0; k < shape.columns; ++k) {
        const std::string name = shape.matrix ? format("%s:%zu", path.c_str(), k + 1) : path;
        out.listing.channels.push_back({name, path});
        out.dataset.push_back(path);
        out.shape.push_back(shape);
        out.column.push_back(k);
    }
}

// The attribute `name` of the object at `path` or of the nearest group above
// it that has one, read as one real number.
std::optional<double> rate_attribute(hid_t file, const std::string& path, const std::string& name,
                                     const std::string& shown_file, std::string& where) {
    std::string object = path;
    for (;;) {
        if (H5Aexists_by_name(file, object.c_str(), name.c_str(), H5P_DEFAULT) > 0) {
            where = object;
            Handle attribute(H5Aopen_by_name(file, object.c_str(), name.c_str(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
            Handle type(attribute.valid() ? H5Aget_type(attribute.get()) : -1, H5Tclose);
            Handle space(attribute.valid() ? H5Aget_space(attribute.get()) : -1, H5Sclose);
            const H5T_class_t type_class = type.valid() ? H5Tget_class(type.get()) : H5T_NO_CLASS;
            const hssize_t count = space.valid() ? H5Sget_simple_extent_npoints(space.get()) : -1;
            double value = 0.0;
            if ((type_class != H5T_INTEGER && type_class != H5T_FLOAT) || count != 1 ||
                H5Aread(attribute.get(), H5T_NATIVE_DOUBLE, &value) < 0) {
                refuse_record(shown_file, format("attribute %s of %s is not one real number, so not a sample rate "
                                                 "(--rate-attribute)",
                                                 shown_name(name).c_str(), shown_name(object).c_str()));
            }
            return value;
        }
        if (object == "/") return std::nullopt;
        const size_t slash = object.find_last_of('/');
        object = slash == 0 || slash == std::string::npos ? "/" : object.substr(0, slash);
    }
}

}  // namespace

namespace {

// The reader itself, in the process that calls it.
std::vector<ChannelRecord> read_in_process_hdf5_records(const std::string& file, const std::string& selector,
                                                        const RecordRequest& request) {
    quiet_hdf5();
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) refuse_record(file, "cannot be opened: no such file");
    Handle h5(H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    if (!h5.valid()) refuse_record(file, "cannot be read as an HDF5 file: its superblock is damaged");

    Visit visit;
    if (H5Lvisit(h5.get(), H5_INDEX_NAME, H5_ITER_INC, collect_link, &visit) < 0) {
        refuse_record(file, "cannot be read as an HDF5 file: its groups are damaged");
    }
    if (visit.too_many) refuse_record(file, "holds more than 100000 objects: not a record");
    Hdf5Listing found;
    found.listing.kind = "dataset";
    found.byte_limit = 1100.0 * static_cast<double>(status.st_size) + 65536.0;
    for (const std::string& path : visit.paths) {
        Handle object(H5Oopen(h5.get(), path.c_str(), H5P_DEFAULT), H5Oclose);
        if (object.valid() && H5Iget_type(object.get()) == H5I_DATASET) list_dataset(h5.get(), path, found);
    }
    // "file.h5:group/set" and "--channel group/set" mean the absolute path too.
    const std::string absolute_selector = selector.empty() || selector.front() == '/' ? selector : "/" + selector;
    std::vector<std::string> channels = request.channels;
    for (std::string& c : channels) {
        if (!c.empty() && c.front() != '/' && c != "all" && c.find_first_not_of("0123456789") != std::string::npos) {
            c = "/" + c;
        }
    }
    const std::vector<size_t> chosen =
        select_channels(file, found.listing, absolute_selector, channels, DefaultChannels::one_group);

    std::vector<ChannelRecord> records;
    for (const size_t i : chosen) {
        const std::string& path = found.dataset[i];
        const DatasetShape& shape = found.shape[i];
        const std::string what = "dataset " + shown_name(found.listing.channels[i].name);
        double rate = 0.0;
        if (request.rate_attribute) {
            std::string where;
            const std::optional<double> value = rate_attribute(h5.get(), path, *request.rate_attribute, file, where);
            if (!value) {
                refuse_record(file, format("has no attribute %s on %s or a group above it, so no sample rate "
                                           "(--rate-attribute)",
                                           shown_name(*request.rate_attribute).c_str(), shown_name(path).c_str()));
            }
            if (!(std::isfinite(*value) && *value > 0.0)) {
                refuse_record(file, format("attribute %s of %s holds %g, not a sample rate above zero", 
                                           shown_name(*request.rate_attribute).c_str(), shown_name(where).c_str(),
                                           *value));
            }
            rate = *value;
        } else {
            rate = given_sample_rate(file, what, request, "--rate-attribute");
        }

        Handle set(H5Dopen2(h5.get(), path.c_str(), H5P_DEFAULT), H5Dclose);
        Handle space(set.valid() ? H5Dget_space(set.get()) : -1, H5Sclose);
        if (!space.valid()) refuse_record(file, what + " cannot be opened: it is damaged");
        // Storage never written reads as fill values, which are no record.
        if (H5Dget_storage_size(set.get()) == 0) refuse_record(file, what + " holds no data: its storage was never written");
        ChannelRecord r;
        r.channel = found.listing.channels[i].name;
        r.name = file + ":" + r.channel;
        r.format = RecordFormat::hdf5;
        r.record.file = file;
        r.record.sample_rate = rate;
        r.record.samples.resize(shape.rows);
        const hsize_t count[2] = {static_cast<hsize_t>(shape.rows), 1};
        Handle memory(H5Screate_simple(1, count, nullptr), H5Sclose);
        if (shape.matrix) {
            const hsize_t start[2] = {0, static_cast<hsize_t>(found.column[i])};
            if (H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0) {
                refuse_record(file, what + " cannot be read: its shape is damaged");
            }
        }
        if (H5Dread(set.get(), H5T_NATIVE_DOUBLE, memory.get(), shape.matrix ? space.get() : H5S_ALL, H5P_DEFAULT,
                    r.record.samples.data()) < 0) {
            refuse_record(file, what + " cannot be read: its data are damaged, cut short or compressed by a filter "
                                       "this build lacks");
        }
        check_channel_samples(file, what, r.record.samples);
        records.push_back(std::move(r));
    }
    return records;
}

}  // namespace

std::vector<ChannelRecord> read_hdf5_records(const std::string& file, const std::string& selector,
                                             const RecordRequest& request) {
    return read_isolated(file, "libhdf5", [&] { return read_in_process_hdf5_records(file, selector, request); });
}

}  // namespace quorel
