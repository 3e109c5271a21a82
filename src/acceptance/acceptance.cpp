#include "acceptance/acceptance.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <tuple>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

bool valid_band(double low_db, double high_db) {
    return -band_limit_db <= low_db && low_db < high_db && high_db <= band_limit_db;
}

double margin_db(double response, double specification) { return 20.0 * std::log10(response / specification); }

bool inside(const ToleranceBand& band, double margin) {
    return band.low_db - band_edge_tolerance_db <= margin && margin <= band.high_db + band_edge_tolerance_db;
}

namespace {

// Where the rules come from: a file, whose faults are told by line, or rules
// given as values (a dict of the Python module), whose lines mean nothing to
// the user and whose faults are told by their key alone.
struct RulesSource {
    const std::string& name;
    bool lines = true;
};

// A fault of the rules at a line, about a key.
[[noreturn]] void fail(const RulesSource& source, long line, const std::string& key, const std::string& problem) {
    const std::string where = source.lines ? format("%s line %ld", source.name.c_str(), line) : source.name;
    throw QuorelError(format("\n Error: %s: %s: %s \n", where.c_str(), key.c_str(), problem.c_str()));
}

long line_of(const toml::node& node) { return static_cast<long>(node.source().begin.line); }

// A finite number, integer or not.
double number(const RulesSource& file, const toml::node& node, const std::string& key) {
    double value = 0.0;
    if (const auto* i = node.as_integer()) {
        value = static_cast<double>(i->get());
    } else if (const auto* f = node.as_floating_point()) {
        value = f->get();
    } else {
        fail(file, line_of(node), key, "must be a number");
    }
    if (!std::isfinite(value)) fail(file, line_of(node), key, "must be a finite number");
    return value;
}

double share(const RulesSource& file, const toml::node& node, const std::string& key) {
    const double value = number(file, node, key);
    if (!(value > 0.0 && value <= 1.0)) {
        fail(file, line_of(node), key, format("must be above 0 and at most 1, not %g", value));
    }
    return value;
}

ToleranceBand parse_band(const RulesSource& file, const toml::table& table, const std::string& where) {
    ToleranceBand band;
    const toml::node* low = nullptr;
    const toml::node* high = nullptr;
    const toml::node* from = nullptr;
    const toml::node* to = nullptr;
    for (auto&& [key, node] : table) {
        const std::string name = where + "." + std::string(key.str());
        if (key.str() == "low") {
            low = &node;
            band.low_db = number(file, node, name);
        } else if (key.str() == "high") {
            high = &node;
            band.high_db = number(file, node, name);
        } else if (key.str() == "min_share") {
            band.min_share = share(file, node, name);
        } else if (key.str() == "from_hz" || key.str() == "to_hz") {
            const double f = number(file, node, name);
            if (!(f > 0.0)) fail(file, line_of(node), name, format("must be above 0 Hz, not %g", f));
            (key.str() == "from_hz" ? band.from_hz : band.to_hz) = f;
            (key.str() == "from_hz" ? from : to) = &node;
        } else {
            fail(file, static_cast<long>(key.source().begin.line), name,
                 "unknown key (a band has low, high, min_share, from_hz, to_hz)");
        }
    }
    if (low == nullptr) fail(file, line_of(table), where, "low is missing");
    if (high == nullptr) fail(file, line_of(table), where, "high is missing");
    for (const auto& [node, value, key] : {std::tuple{low, band.low_db, ".low"}, std::tuple{high, band.high_db, ".high"}}) {
        if (std::fabs(value) > band_limit_db) {
            fail(file, line_of(*node), where + key,
                 format("%g dB is beyond the %g dB a band edge may lie from the specification", value, band_limit_db));
        }
    }
    if (!(band.low_db < band.high_db)) {
        fail(file, line_of(*high), where + ".high",
             format("must be above low (low = %g, high = %g)", band.low_db, band.high_db));
    }
    if (from != nullptr && to != nullptr && band.from_hz > band.to_hz) {
        fail(file, line_of(*to), where + ".to_hz",
             format("must not be below from_hz (from_hz = %g, to_hz = %g)", band.from_hz, band.to_hz));
    }
    return band;
}

}  // namespace

AcceptanceRules parse_acceptance(const std::string& name, std::string_view text, bool numbered_lines) {
    AcceptanceRules rules;
    rules.name = name;
    const RulesSource source{name, numbered_lines};
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error& error) {
        throw QuorelError(format("\n Error: %s line %ld: %s \n", name.c_str(),
                                 static_cast<long>(error.source().begin.line), std::string(error.description()).c_str()));
    }
    for (auto&& [key, node] : root) {
        const std::string k(key.str());
        if (k == "srs") {
            const auto* value = node.as_string();
            if (value == nullptr || (value->get() != "maximax" && value->get() != "each")) {
                fail(source, line_of(node), k, "must be \"maximax\" or \"each\"");
            }
            rules.points = value->get() == "each" ? SrsPoints::each : SrsPoints::maximax;
        } else if (k == "band") {
            const auto* bands = node.as_array();
            if (bands == nullptr || !bands->is_array_of_tables()) {
                fail(source, line_of(node), k, "must be tables, each headed [[band]]");
            }
            for (const toml::node& band : *bands) {
                const std::string where = format("band[%zu]", rules.bands.size() + 1);
                rules.bands.push_back(parse_band(source, *band.as_table(), where));
            }
        } else if (k == "above_nominal") {
            const auto* table = node.as_table();
            if (table == nullptr) fail(source, line_of(node), k, "must be a table headed [above_nominal]");
            for (auto&& [inner, value] : *table) {
                const std::string where = k + "." + std::string(inner.str());
                if (inner.str() != "min_share") {
                    fail(source, static_cast<long>(inner.source().begin.line), where,
                         "unknown key (above_nominal has min_share)");
                }
                rules.above_nominal_share = share(source, value, where);
            }
            if (!rules.above_nominal_share) fail(source, line_of(*table), k, "min_share is missing");
        } else {
            fail(source, static_cast<long>(key.source().begin.line), k,
                 "unknown key (the file has srs, [[band]] and [above_nominal])");
        }
    }
    if (rules.bands.empty() && !rules.above_nominal_share) {
        throw QuorelError(format("\n Error: %s: no [[band]] and no [above_nominal]: nothing to judge \n", name.c_str()));
    }
    return rules;
}

AcceptanceRules read_acceptance_file(const std::string& name) {
    // Only a regular file: a FIFO or a terminal would block the run.  O_NONBLOCK
    // keeps the open itself from waiting on a FIFO.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw QuorelError(format("\n Error: %s: %s \n", name.c_str(), std::strerror(errno)));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    constexpr off_t max_size = 1 << 20;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        throw QuorelError(format("\n Error: %s is not a regular file \n", name.c_str()));
    }
    if (info.st_size > max_size) {
        throw QuorelError(format("\n Error: %s: %lld bytes, more than the %lld an acceptance file may hold \n",
                                 name.c_str(), static_cast<long long>(info.st_size), static_cast<long long>(max_size)));
    }
    std::string text(static_cast<size_t>(info.st_size), '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw QuorelError(format("\n Error: %s: %s \n", name.c_str(), std::strerror(errno)));
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return parse_acceptance(name, text);
}

namespace {

// Calls point(margin) for every point of the SRS at the frequencies `covers`
// accepts.
template <typename Covers, typename Point>
void for_each_point(SrsPoints points, const SrsComparison& srs, Covers covers, Point point) {
    for (size_t k = 0; k < srs.freq.size(); ++k) {
        if (!covers(srs.freq[k])) continue;
        if (points == SrsPoints::maximax) {
            point(margin_db(std::max(srs.positive[k], srs.negative[k]), srs.spec[k]));
        } else {
            point(margin_db(srs.positive[k], srs.spec[k]));
            point(margin_db(srs.negative[k], srs.spec[k]));
        }
    }
}

}  // namespace

ShareCount judge_band(const AcceptanceRules& rules, const ToleranceBand& band, const SrsComparison& srs) {
    ShareCount count;
    count.min_share = band.min_share;
    for_each_point(rules.points, srs, [&](double f) { return band.covers(f); }, [&](double margin) {
        ++count.total;
        count.inside += inside(band, margin);
    });
    return count;
}

ShareCount judge_above_nominal(const AcceptanceRules& rules, const SrsComparison& srs) {
    ShareCount count;
    count.min_share = rules.above_nominal_share.value_or(1.0);
    for_each_point(rules.points, srs, [](double) { return true; }, [&](double margin) {
        ++count.total;
        count.inside += at_or_above(margin);
    });
    return count;
}

AcceptanceVerdict judge_acceptance(const AcceptanceRules& rules, const SrsComparison& srs) {
    AcceptanceVerdict verdict;
    verdict.pass = true;
    for (const ToleranceBand& band : rules.bands) {
        verdict.bands.push_back(judge_band(rules, band, srs));
        verdict.pass = verdict.pass && verdict.bands.back().pass();
    }
    if (rules.above_nominal_share) {
        verdict.above_nominal = judge_above_nominal(rules, srs);
        verdict.pass = verdict.pass && verdict.above_nominal->pass();
    }
    return verdict;
}

bool passes_acceptance(const AcceptanceRules& rules, const SrsComparison& srs) {
    for (const ToleranceBand& band : rules.bands) {
        if (!judge_band(rules, band, srs).pass()) return false;
    }
    return !rules.above_nominal_share || judge_above_nominal(rules, srs).pass();
}

void check_band_ranges(const AcceptanceRules& rules, std::span<const double> freq) {
    for (size_t b = 0; b < rules.bands.size(); ++b) {
        const ToleranceBand& band = rules.bands[b];
        if (std::none_of(freq.begin(), freq.end(), [&](double f) { return band.covers(f); })) {
            throw QuorelError(format("\n Error: %s: band[%zu] (%s) holds no frequency of the SRS (%g to %g Hz) \n",
                                     rules.name.c_str(), b + 1, band_range(band).c_str(),
                                     freq.empty() ? 0.0 : freq.front(), freq.empty() ? 0.0 : freq.back()));
        }
    }
}

std::string band_range(const ToleranceBand& band) {
    const bool from = band.from_hz > 0.0;
    const bool to = band.to_hz < std::numeric_limits<double>::infinity();
    if (from && to) return format("%g-%g Hz", band.from_hz, band.to_hz);
    if (from) return format("from %g Hz", band.from_hz);
    if (to) return format("up to %g Hz", band.to_hz);
    return "all frequencies";
}

std::string band_label(const ToleranceBand& band) {
    std::string label = format("%+g/%+g dB", band.low_db, band.high_db);
    if (band.limited()) {
        label += ' ';
        label += band_range(band);
    }
    return label;
}

std::string verdict_lines(const AcceptanceRules& rules, const AcceptanceVerdict& verdict, const char* indent) {
    std::string text;
    auto line = [&](const std::string& label, const ShareCount& count, const char* what) {
        text += format("%s%-30s %4ld of %4ld points %-7s (%5.1f %%, at least %5.1f %%)   %s \n", indent, label.c_str(),
                       count.inside, count.total, what, 100.0 * count.share(), 100.0 * count.min_share,
                       count.pass() ? "PASS" : "FAIL");
    };
    for (size_t b = 0; b < rules.bands.size(); ++b) line("Band " + band_label(rules.bands[b]), verdict.bands[b], "inside");
    if (verdict.above_nominal) line("Above nominal", *verdict.above_nominal, "");
    text += format("%sAcceptance (%s, %s): %s \n", indent, rules.name.c_str(),
                   rules.points == SrsPoints::maximax ? "maximax" : "each polarity", verdict.pass ? "PASS" : "FAIL");
    return text;
}

}  // namespace quorel
