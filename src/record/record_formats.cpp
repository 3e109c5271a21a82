#include "record/record_formats.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/format.hpp"
#include "record/channel_selection.hpp"
#include "record/format_readers.hpp"

namespace quorel {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string extension_of(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return "";
    std::string ext(base.substr(dot));
    for (char& c : ext) c = lower(c);
    return ext;
}

// The first bytes of a file, enough for every signature (an HDF5 superblock
// may start at 0, 512, 1024 or 2048); empty when it cannot be read, which
// the format's reader then reports.
std::string head_of(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";
    struct stat info {};
    std::string head;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        head.resize(4096);
        const ssize_t got = ::read(fd, head.data(), head.size());
        head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
    ::close(fd);
    return head;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A universal file opens with a delimiter line "    -1" and a line whose
// first six columns hold a dataset number, right-justified: a text record
// of one column may well start with -1.
bool universal_framing(std::string_view head) {
    size_t pos = 0;
    auto next_line = [&](std::string_view& line) {
        if (pos >= head.size()) return false;
        const size_t end = std::min(head.find('\n', pos), head.size());
        line = head.substr(pos, end - pos);
        pos = end + 1;
        return true;
    };
    std::string_view line;
    do {
        if (!next_line(line)) return false;
    } while (trimmed(line).empty());
    if (line.substr(0, 6) != "    -1" || !trimmed(line.substr(6)).empty()) return false;
    if (!next_line(line) || line.size() < 6 || line[0] != ' ') return false;
    const std::string_view number = trimmed(line.substr(0, 6));
    return !number.empty() && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Names a format as a file name implies it.
std::string named_as(RecordFormat format, const std::string& extension) {
    const std::string ext = extension.empty() ? "no extension" : extension;
    switch (format) {
        case RecordFormat::mat: return "a MAT file (" + ext + ")";
        case RecordFormat::wav: return "a WAV file (" + ext + ")";
        case RecordFormat::hdf5: return "an HDF5 file (" + ext + ")";
        case RecordFormat::uff58: return "a universal file (" + ext + ")";
        default: return "text (" + ext + ")";
    }
}

std::string content_missing(RecordFormat format) {
    switch (format) {
        case RecordFormat::mat: return "no MAT-file header (v5 or v7.3)";
        case RecordFormat::wav: return "no RIFF/RF64 WAVE header";
        case RecordFormat::hdf5: return "no HDF5 signature";
        default: return "no universal-file dataset (a line '    -1', then a dataset number)";
    }
}

double time_unit_factor(TimeUnit unit) { return unit == TimeUnit::ms ? 1e3 : (unit == TimeUnit::us ? 1e6 : 1.0); }

bool all_digits(const std::string& text) {
    return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Text: each requested column read by the text reader.  A column's channel
// name is its header name when the header names it once, else its number.
std::vector<ChannelRecord> read_text_records(const std::string& file, const std::string& selector,
                                             const RecordRequest& request) {
    std::vector<std::string> wanted = request.channels;
    if (!selector.empty()) {
        if (!wanted.empty()) refuse_record(file, "has its column named after ':' and by --channel: give one");
        wanted.push_back(selector);
    }
    const bool has_time = !request.text.sample_rate;
    auto finish = [&](ChannelRecord& r) {
        r.format = RecordFormat::text;
        if (has_time && request.time_unit != TimeUnit::s) {
            const double factor = time_unit_factor(request.time_unit);
            r.record.sample_rate *= factor;
            r.record.start_time /= factor;
        }
    };
    std::vector<ChannelRecord> records;
    if (wanted.empty()) {
        ChannelRecord r;
        r.name = file;
        r.record = read_record(file, request.text);
        finish(r);
        records.push_back(std::move(r));
        return records;
    }
    if (request.text.column_number || request.text.column_name) {
        refuse_record(file, "has its column chosen by --column and by --channel: give one");
    }
    // The columns: one read learns how many there are and their names.
    RecordOptions first = request.text;
    first.column_number = has_time ? 2 : 1;
    Record probe;
    bool probed = false;
    std::vector<int32_t> columns;
    for (const std::string& w : wanted) {
        if (w == "all") {
            if (!probed) probe = read_record(file, first), probed = true;
            for (int32_t c = has_time ? 2 : 1; c <= probe.columns; ++c) columns.push_back(c);
            continue;
        }
        RecordOptions options = request.text;
        if (all_digits(w)) {
            options.column_number = static_cast<int32_t>(std::stol(w));
        } else {
            options.column_name = w;
        }
        // The text reader finds the column and refuses a missing one.
        Record r = read_record(file, options);
        if (!probed) probe = r, probed = true;
        int32_t column = options.column_number.value_or(0);
        if (!options.column_number) {
            for (size_t k = 0; k < r.column_names.size(); ++k) {
                if (r.column_names[k] == w) column = static_cast<int32_t>(k + 1);
            }
            if (column == 0) {
                // Matched ignoring case or a unit: the reader knows which; find it by its samples.
                for (int32_t c = has_time ? 2 : 1; c <= r.columns && column == 0; ++c) {
                    RecordOptions by_number = request.text;
                    by_number.column_number = c;
                    if (read_record(file, by_number).samples == r.samples) column = c;
                }
            }
        }
        columns.push_back(column);
    }
    std::vector<int32_t> unique;
    for (const int32_t c : columns) {
        if (std::find(unique.begin(), unique.end(), c) == unique.end()) unique.push_back(c);
    }
    for (const int32_t c : unique) {
        RecordOptions options = request.text;
        options.column_number = c;
        ChannelRecord r;
        r.record = read_record(file, options);
        const std::vector<std::string>& names = r.record.column_names;
        const size_t k = static_cast<size_t>(c - 1);
        const bool named = k < names.size() && !names[k].empty() && std::count(names.begin(), names.end(), names[k]) == 1;
        r.channel = named ? names[k] : format("%d", c);
        r.name = file + ":" + r.channel;
        finish(r);
        records.push_back(std::move(r));
    }
    return records;
}

}  // namespace

const char* record_format_name(RecordFormat format) {
    switch (format) {
        case RecordFormat::mat: return "MAT";
        case RecordFormat::wav: return "WAV";
        case RecordFormat::hdf5: return "HDF5";
        case RecordFormat::uff58: return "universal file";
        default: return "text";
    }
}

RecordFormat format_by_name(std::string_view path) {
    const std::string ext = extension_of(path);
    if (ext == ".mat") return RecordFormat::mat;
    if (ext == ".wav" || ext == ".wave" || ext == ".rf64" || ext == ".bwf") return RecordFormat::wav;
    if (ext == ".h5" || ext == ".hdf5" || ext == ".hdf" || ext == ".he5") return RecordFormat::hdf5;
    if (ext == ".uff" || ext == ".unv" || ext == ".uf") return RecordFormat::uff58;
    return RecordFormat::text;
}

ContentFormat format_by_content(std::string_view head) {
    if (head.size() >= 12 && (head.substr(0, 4) == "RIFF" || head.substr(0, 4) == "RIFX" || head.substr(0, 4) == "RF64" ||
                              head.substr(0, 4) == "BW64") &&
        head.substr(8, 4) == "WAVE") {
        return {RecordFormat::wav, "a WAV file"};
    }
    if (head.size() >= 128 && (head.substr(126, 2) == "IM" || head.substr(126, 2) == "MI")) {
        const unsigned char v0 = static_cast<unsigned char>(head[124]), v1 = static_cast<unsigned char>(head[125]);
        const int version = head[126] == 'I' ? v0 | (v1 << 8) : (v0 << 8) | v1;
        if (version == 0x0100) return {RecordFormat::mat, "a MAT file (v5)"};
        if (version == 0x0200) return {RecordFormat::mat, "a MAT file (v7.3)"};
    }
    static constexpr char signature[] = "\x89HDF\r\n\x1a\n";
    for (const size_t at : {size_t{0}, size_t{512}, size_t{1024}, size_t{2048}}) {
        if (head.size() >= at + 8 && head.substr(at, 8) == std::string_view(signature, 8)) {
            return {RecordFormat::hdf5, "an HDF5 file"};
        }
    }
    if (universal_framing(head)) return {RecordFormat::uff58, "a universal file"};
    return {RecordFormat::text, "text"};
}

RecordArgument split_record_argument(const std::string& argument) {
    struct stat info {};
    if (::stat(argument.c_str(), &info) == 0) return {argument, ""};
    for (size_t colon = argument.find(':'); colon != std::string::npos; colon = argument.find(':', colon + 1)) {
        const std::string file = argument.substr(0, colon);
        if (!file.empty() && ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            return {file, argument.substr(colon + 1)};
        }
    }
    return {argument, ""};
}

void check_channel_samples(const std::string& file, const std::string& what, const std::vector<double>& samples) {
    if (samples.size() < 2) {
        refuse_record(file, format("%s holds %zu sample%s: a record needs at least 2", what.c_str(), samples.size(),
                                   samples.size() == 1 ? "" : "s"));
    }
    for (size_t k = 0; k < samples.size(); ++k) {
        if (!std::isfinite(samples[k])) {
            refuse_record(file, format("%s: sample %zu is %s, not a finite number", what.c_str(), k + 1,
                                       std::isnan(samples[k]) ? "NaN" : "infinite"));
        }
    }
}

double given_sample_rate(const std::string& file, const std::string& what, const RecordRequest& request,
                         const char* alternative) {
    const std::string subject = what.empty() ? "" : what + ": ";
    if (!request.text.sample_rate) {
        refuse_record(file, format("%shas no sample rate of its own: give --sample-rate%s%s", subject.c_str(),
                                   alternative[0] != '\0' ? " or " : "", alternative));
    }
    const double rate = *request.text.sample_rate;
    if (!(std::isfinite(rate) && rate > 0.0)) {
        refuse_record(file, format("cannot be read at a sample rate of %g Hz: it must be above zero", rate));
    }
    return rate;
}

double carried_sample_rate(const std::string& file, const std::string& what, double carried,
                           const RecordRequest& request) {
    if (!request.text.sample_rate) return carried;
    const double given = *request.text.sample_rate;
    if (!(std::abs(given - carried) <= 1e-5 * carried)) {
        const std::string subject = what.empty() ? "" : what + " ";
        refuse_record(file, format("%sis sampled at %.9g Hz, not at the --sample-rate %.9g Hz given", subject.c_str(),
                                   carried, given));
    }
    return given;
}

std::vector<ChannelRecord> read_records(const std::string& argument, const RecordRequest& request) {
    const RecordArgument arg = split_record_argument(argument);
    const RecordFormat named = format_by_name(arg.file);
    const std::string head = head_of(arg.file);
    if (!head.empty()) {
        const ContentFormat content = format_by_content(head);
        if (content.format != named) {
            const std::string holds = content.format == RecordFormat::text && named != RecordFormat::text
                                          ? content_missing(named)
                                          : content.shown;
            refuse_record(arg.file, format("is named as %s but holds %s", named_as(named, extension_of(arg.file)).c_str(),
                                           holds.c_str()));
        }
    }
    std::vector<ChannelRecord> records;
    switch (named) {
        case RecordFormat::mat: records = read_mat_records(arg.file, arg.selector, request); break;
        case RecordFormat::wav: records = read_wav_records(arg.file, arg.selector, request); break;
        case RecordFormat::hdf5: records = read_hdf5_records(arg.file, arg.selector, request); break;
        case RecordFormat::uff58: records = read_uff58_records(arg.file, arg.selector, request); break;
        default: records = read_text_records(arg.file, arg.selector, request); break;
    }
    if (request.scale) {
        const double k = *request.scale;
        for (ChannelRecord& r : records) {
            for (double& s : r.record.samples) s *= k;
        }
    }
    return records;
}

std::string full_scale_warning(const ChannelRecord& channel, const RecordRequest& request) {
    if (channel.full_scale.empty() || request.scale) return "";
    return format("Warning: %s: %s samples are read as fractions of full scale (-1 to 1): give --scale, the "
                  "acceleration at full scale, to have them in the acceleration unit",
                  channel.name.c_str(), channel.full_scale.c_str());
}

}  // namespace quorel
