#include "plot/gnuplot_script.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/format.hpp"

namespace quorel::plot {

std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return out;
}

namespace {

// One colour per band, the first for the innermost band given.
const char* const band_colours[] = {"#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"};

// A name a comment line can show as it is: letters, digits and . _ + -.
bool plain_name(const std::string& name) {
    if (name.empty() || name.front() == '-') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '+' || c == '-';
    });
}

std::string header(const PictureNames& names, const std::string& description, int height, int width = 900) {
    std::string text;
    text += format("if (!exists(\"outfile\")) outfile = %s\n", gnuplot_string(names.picture).c_str());
    text += description;
    // Every series is inline: the script redraws from anywhere.
    if (plain_name(names.script)) {
        text += "# Redraw:  gnuplot " + names.script + "\n";
        text += "# To a file of your choice:  gnuplot -e \"outfile='other.svg'\" " + names.script + "\n\n";
    } else {
        text += "# Redraw:  gnuplot on this script; gnuplot -e \"outfile='other.svg'\" for another file.\n\n";
    }
    text += format("set terminal svg size %d,%d dynamic enhanced font \"Sans,12\" background rgb \"white\"\n", width,
                   height);
    text += "set output outfile\n";
    text += "set encoding utf8\n";
    return text;
}

// Labelled tics at 2 and 5 times each power of ten in [low, high], added to
// gnuplot's decades: a log axis spanning one or two decades otherwise carries
// two or three numbers only.  The loop runs over whole exponents of a finite
// range and stops after max_decades: a wider axis keeps gnuplot's own tics.
std::string log_tics_125(const char* axis, double low, double high) {
    constexpr int max_decades = 15;
    if (!(low > 0.0) || !std::isfinite(high) || !(low <= high)) return "";
    const int first = static_cast<int>(std::floor(std::log10(low)));
    const int last = static_cast<int>(std::floor(std::log10(high)));
    if (last - first > max_decades) return "";
    std::string list;
    for (int exponent = first; exponent <= last; ++exponent) {
        const double decade = std::pow(10.0, exponent);
        for (const double m : {2.0, 5.0}) {
            const double v = m * decade;
            if (v >= low && v <= high) list += format("%s\"%g\" %g", list.empty() ? "" : ", ", v, v);
        }
    }
    return list.empty() ? "" : format("set %s add (%s)\n", axis, list.c_str());
}

// A range that a log axis can show: both ends finite and above zero.
bool log_range(double low, double high) { return low > 0.0 && std::isfinite(high) && low < high; }

}  // namespace

PlotNames plot_names(long trial) {
    return {{format("srs_%ld.svg", trial), format("srs_%ld.gp", trial)},
            {format("history_%ld.svg", trial), format("history_%ld.gp", trial)},
            {format("pvss_%ld.svg", trial), format("pvss_%ld.gp", trial)}};
}

std::string gnuplot_string(const std::string& text) {
    std::string out = "'";
    for (const char c : printable(text)) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

namespace {

// Frequencies of the derived series: the specification's own points, the SRS
// frequencies and the ends of the bands' ranges within them, ascending, each
// once.
std::vector<double> srs_frequencies(const SrsPicture& p, const std::vector<ToleranceBand>& bands) {
    std::vector<double> freqs;
    for (const SpecPoint& point : p.spec) freqs.push_back(point.freq);
    for (const SrsLine& line : p.srs) freqs.push_back(line.freq);
    if (freqs.empty()) freqs.push_back(1.0);
    const auto [lowest, highest] = std::minmax_element(freqs.begin(), freqs.end());
    const double first = *lowest, last = *highest;
    for (const ToleranceBand& b : bands) {
        for (const double end : {b.from_hz, b.to_hz}) {
            if (first < end && end < last) freqs.push_back(end);
        }
    }
    std::sort(freqs.begin(), freqs.end());
    freqs.erase(std::unique(freqs.begin(), freqs.end()), freqs.end());
    return freqs;
}

// The title, the axes and their ranges, the key.
std::string srs_ranges(const SrsPicture& p, const std::vector<ToleranceBand>& bands, const std::vector<double>& freqs) {
    std::string text;
    const double f_low = freqs.front();
    const double f_high = freqs.back();
    text += format("\nset title %s noenhanced\n", gnuplot_string(p.title).c_str());
    text += "set xlabel \"Natural frequency (Hz)\"\n";
    text += format("set ylabel %s\n", gnuplot_string("Peak acceleration (" + p.accel_unit + ")").c_str());
    text += "set logscale xy\n";
    text += "set format x \"%g\"\nset format y \"%g\"\n";
    text += "set grid xtics ytics mxtics mytics lw 1 lc rgb \"#c8c8c8\", lw 0.5 lc rgb \"#e6e6e6\"\n";
    if (log_range(f_low / 1.15, f_high * 1.15)) {
        text += format("set xrange [%.6g:%.6g]\n", f_low / 1.15, f_high * 1.15);
        text += log_tics_125("xtics", f_low / 1.15, f_high * 1.15);
    }
    // The vertical range holds the outermost band edges and every SRS peak
    // above zero (a log axis cannot show zero).
    double lowest_db = 0.0;
    double highest_db = 0.0;
    for (const ToleranceBand& b : bands) {
        lowest_db = std::min(lowest_db, b.low_db);
        highest_db = std::max(highest_db, b.high_db);
    }
    double a_low = HUGE_VAL;
    double a_high = 0.0;
    for (const double f : freqs) {
        if (const auto a = spec_at(p.spec, f)) {
            a_low = std::min(a_low, *a * std::pow(10.0, lowest_db / 20.0));
            a_high = std::max(a_high, *a * std::pow(10.0, highest_db / 20.0));
        }
    }
    for (const SrsLine& line : p.srs) {
        for (const double a : {line.positive, line.negative}) {
            if (a > 0.0) {
                a_low = std::min(a_low, a);
                a_high = std::max(a_high, a);
            }
        }
    }
    if (log_range(a_low / 1.25, a_high * 1.25)) {
        text += format("set yrange [%.6g:%.6g]\n", a_low / 1.25, a_high * 1.25);
        text += log_tics_125("ytics", a_low / 1.25, a_high * 1.25);
    }
    text += "set key outside right top box opaque spacing 1.2\n";
    return text;
}

std::string band_range_text(const ToleranceBand& b) {
    return b.limited() ? format(" %g-%g Hz", b.from_hz, b.to_hz) : "";
}

// The inline data: the specification with its band edges, then the SRS.
std::string srs_data(const SrsPicture& p, const std::vector<ToleranceBand>& bands, const std::vector<double>& freqs) {
    std::string text;
    // A band's edges beyond its frequency range are NaN: gnuplot leaves those
    // points out and draws no line to them.
    if (!p.spec.empty()) {
        text += "\n# frequency(Hz)  specification";
        for (const ToleranceBand& b : bands) {
            text += "  " + edge_label(b.low_db) + "  " + edge_label(b.high_db) + band_range_text(b);
        }
        text += "\n$bands << EOD\n";
        for (const double f : freqs) {
            const std::optional<double> a = spec_at(p.spec, f);
            text += a ? format("%.9g %.8g", f, *a) : format("%.9g NaN", f);
            for (const ToleranceBand& b : bands) {
                if (a && b.covers(f)) {
                    text += format(" %.8g %.8g", *a * std::pow(10.0, b.low_db / 20.0), *a * std::pow(10.0, b.high_db / 20.0));
                } else {
                    text += " NaN NaN";
                }
            }
            text += "\n";
        }
        text += "EOD\n";
    }
    text += "\n# frequency(Hz)  positive  negative\n$srs << EOD\n";
    for (const SrsLine& line : p.srs) text += format("%.9g %.8g %.8g\n", line.freq, line.positive, line.negative);
    text += "EOD\n";
    return text;
}

// The plot command: the band edges, the specification, both polarities.
std::string srs_commands(const SrsPicture& p, const std::vector<ToleranceBand>& bands) {
    std::string text = "\nplot";
    int column = 3;
    for (size_t i = 0; i < bands.size(); ++i) {
        const char* colour = band_colours[i % (sizeof band_colours / sizeof band_colours[0])];
        for (const double db : {bands[i].low_db, bands[i].high_db}) {
            text += format(" $bands using 1:%d with lines dt 2 lw 1.5 lc rgb \"%s\" title %s, \\\n    ", column++,
                           colour, gnuplot_string(edge_label(db) + band_range_text(bands[i])).c_str());
        }
    }
    if (!p.spec.empty()) text += " $bands using 1:2 with lines lw 2.5 lc rgb \"black\" title \"specification\", \\\n    ";
    text += " $srs using 1:2 with linespoints pt 7 ps 0.6 lw 1.5 lc rgb \"#d62728\" title \"positive SRS\", \\\n";
    text += "     $srs using 1:3 with linespoints pt 5 ps 0.6 lw 1.5 lc rgb \"#1f77b4\" title \"negative SRS\"\n";
    return text;
}

}  // namespace

std::string srs_script(const SrsPicture& p) {
    const std::vector<ToleranceBand> no_bands;
    const std::vector<ToleranceBand>& bands = p.spec.empty() ? no_bands : p.bands;
    const std::vector<double> freqs = srs_frequencies(p, bands);
    return header(p.names, p.description, 650) + srs_ranges(p, bands, freqs) + srs_data(p, bands, freqs) +
           srs_commands(p, bands);
}

std::string history_script(const HistoryPicture& p) {
    std::string text = header(p.names, p.description, 900);
    text += format("\nset multiplot layout 3,1 title %s noenhanced\n", gnuplot_string(p.title).c_str());
    text += "set grid lw 1 lc rgb \"#d0d0d0\"\n";
    text += "set autoscale xfix\n";
    text += "set key tmargin right horizontal nobox\n";
    text += "set lmargin 12\nset rmargin 4\n";
    text += "set xlabel \"Time (sec)\"\n";
    struct Panel {
        const std::vector<TimedValue>* series;
        const char* name;    // the data block
        const char* label;   // the axis
        const std::string* unit;
        const char* colour;
    };
    const Panel panels[] = {{&p.accel, "acceleration", "Acceleration", &p.accel_unit, "#1f77b4"},
                            {&p.velocity, "velocity", "Velocity", &p.velocity_unit, "#2ca02c"},
                            {&p.displacement, "displacement", "Displacement", &p.displacement_unit, "#d62728"}};
    for (const Panel& panel : panels) {
        text += format("\n# time(sec)  %s\n$%s << EOD\n", panel.name, panel.name);
        for (const TimedValue& s : *panel.series) text += format("%.9g %.8g\n", s.time, s.value);
        text += "EOD\n";
    }
    text += "\n";
    for (const Panel& panel : panels) {
        text += format("set ylabel %s\n", gnuplot_string(std::string(panel.label) + " (" + *panel.unit + ")").c_str());
        text += format("plot $%s using 1:2 with lines lw 1 lc rgb \"%s\" title \"%s\"\n", panel.name, panel.colour,
                       panel.name);
    }
    text += "unset multiplot\n";
    return text;
}

std::string spectra_script(const SpectraPicture& p) {
    std::string text = header(p.names, p.description, 1000);
    text += format("\nset multiplot layout 3,1 title %s noenhanced\n", gnuplot_string(p.title).c_str());
    text += "set grid xtics ytics mxtics mytics lw 1 lc rgb \"#d0d0d0\", lw 0.5 lc rgb \"#e6e6e6\"\n";
    text += "set logscale xy\nset format x \"%g\"\nset format y \"%g\"\n";
    text += "set key tmargin right horizontal nobox\n";
    text += "set lmargin 12\nset rmargin 4\n";
    text += "set xlabel \"Natural frequency (Hz)\"\n";
    struct Series {
        const std::vector<double>* values;
        const char* name;   // the data block and the key
        const char* colour;
        int width = 2;
    };
    struct Panel {
        const char* label;
        const std::string* unit;
        std::vector<Series> series;
    };
    const Panel panels[] = {
        {"Peak acceleration", &p.accel_unit,
         {{&p.maximax, "maximax", "#aec7e8", 6}, {&p.primary, "primary", "#ff7f0e"}, {&p.residual, "residual", "#9467bd"}}},
        {"Peak velocity", &p.velocity_unit,
         {{&p.relative_velocity, "relative_velocity", "#2ca02c"}, {&p.pseudo_velocity, "pseudo_velocity", "#8c564b"}}},
        {"Peak relative displacement", &p.displacement_unit, {{&p.relative_displacement, "relative_displacement", "#d62728"}}}};
    for (const Panel& panel : panels) {
        for (const Series& series : panel.series) {
            text += format("\n# frequency(Hz)  %s\n$%s << EOD\n", series.name, series.name);
            for (size_t j = 0; j < p.freq.size(); ++j) {
                const double v = (*series.values)[j];
                if (v > 0.0 && std::isfinite(v)) text += format("%.9g %.9g\n", p.freq[j], v);
            }
            text += "EOD\n";
        }
    }
    text += "\n";
    for (const Panel& panel : panels) {
        text += format("set ylabel %s\n", gnuplot_string(std::string(panel.label) + " (" + *panel.unit + ")").c_str());
        std::string plot = "plot ";
        for (size_t s = 0; s < panel.series.size(); ++s) {
            const Series& series = panel.series[s];
            // The maximax is the larger of primary and residual: drawn wide
            // and pale beneath them.
            plot += format("%s$%s using 1:2 with lines lw %d lc rgb \"%s\" title \"%s\" noenhanced", s > 0 ? ", " : "",
                           series.name, series.width, series.colour, series.name);
        }
        text += plot + "\n";
    }
    text += "unset multiplot\n";
    return text;
}

namespace {

// A series of the chart, each point with a pseudo velocity a log axis can
// show.
struct PvSeries {
    Curve points;
    void add(double f, double pv) {
        if (pv > 0.0 && std::isfinite(pv)) points.push_back({f, pv});
    }
};

struct PvssSeries {
    PvSeries specification, positive, negative;
};

PvssSeries pvss_series(const PvssPicture& p) {
    PvssSeries s;
    for (const SpecPoint& point : p.spec) s.specification.add(point.freq, pseudo_velocity(p.units, point.accel, point.freq));
    for (const PvssLine& line : p.pvss) {
        s.positive.add(line.freq, line.positive);
        s.negative.add(line.freq, line.negative);
    }
    return s;
}

// The page: the plot area of the frame, the title above it, the frequency
// axis below, the key to the right.
struct PvssPage {
    static constexpr double width = 960.0, left = 85.0, top = 50.0, bottom = 65.0;
    double height = 0.0;
};

// The title, the axes, the margins that place the frame, the key, and the
// ranges and tics when the chart has a frame.
std::string pvss_axes(const PvssPicture& p, const PvssPage& page, const ChartFrame& frame, bool framed) {
    const PvssUnits& units = p.units;
    std::string text;
    text += format("\nset title %s noenhanced\n", gnuplot_string(p.title).c_str());
    text += "set xlabel \"Natural frequency (Hz)\"\n";
    text += format("set ylabel %s\n", gnuplot_string("Pseudo velocity (" + units.velocity + ")").c_str());
    text += "set logscale xy\n";
    text += "set format x \"%g\"\nset format y \"%g\"\n";
    text += "set grid xtics ytics mxtics mytics lw 1 lc rgb \"#c8c8c8\", lw 0.5 lc rgb \"#e6e6e6\"\n";
    text += format("set lmargin at screen %.6f\nset rmargin at screen %.6f\n", page.left / page.width,
                   (page.left + frame.width_px) / page.width);
    text += format("set bmargin at screen %.6f\nset tmargin at screen %.6f\n", page.bottom / page.height,
                   (page.bottom + frame.height_px) / page.height);
    text += format("set key at screen %.6f, %.6f left top Left reverse box opaque spacing 1.2\n",
                   (page.left + frame.width_px + 20.0) / page.width, (page.bottom + frame.height_px) / page.height);
    if (framed) {
        text += format("set xrange [%g:%g]\nset yrange [%g:%g]\n", frame.freq.from(), frame.freq.to(),
                       frame.velocity.from(), frame.velocity.to());
        text += log_tics_125("xtics", frame.freq.from(), frame.freq.to());
        text += log_tics_125("ytics", frame.velocity.from(), frame.velocity.to());
    }
    return text;
}

// The tripartite diagonals and their labels, behind the curves: decades
// darker, their 2 and 5 lighter.
std::string diagonal_commands(const PvssUnits& units, const ChartFrame& frame, const PvssSeries& s) {
    const TripartiteGrid grid = tripartite_grid(units, frame, {s.specification.points, s.positive.points, s.negative.points});
    std::string text = format("\n# Constant displacement (%s), slope +1, and constant acceleration (%s), slope -1.\n",
                              units.displacement.c_str(), units.accel.c_str());
    for (const Diagonal& d : grid.diagonals) {
        const char* colour = d.displacement ? (d.major ? "#5f9f92" : "#bcdcd5") : (d.major ? "#c08a4d" : "#ecd6bb");
        text += format("set arrow from %.9g,%.9g to %.9g,%.9g nohead back lw %s lc rgb \"%s\"\n", d.f0, d.v0, d.f1,
                       d.v1, d.major ? "1" : "0.7", colour);
    }
    for (const DiagonalLabel& l : grid.labels) {
        text += format("set label %s at %.9g,%.9g rotate by %.3f %s back font \"Sans,10\" tc rgb \"%s\"\n",
                       gnuplot_string(l.text).c_str(), l.freq, l.velocity, l.angle_deg,
                       l.right_justified ? "right" : "left", l.displacement ? "#2f6e62" : "#8a5a22");
    }
    return text;
}

// The inline data.  A series without a point a log axis can show (a polarity
// the response never reaches) is left out.
std::string pvss_data(const PvssUnits& units, const PvssSeries& s) {
    std::string text;
    auto block = [&](const char* name, const char* heading, const PvSeries& series) {
        text += format("\n# frequency(Hz)  %s\n$%s << EOD\n", heading, name);
        for (const auto& [f, pv] : series.points) text += format("%.9g %.8g\n", f, pv);
        text += "EOD\n";
    };
    const std::string unit = "(" + units.velocity + ")";
    if (!s.specification.points.empty()) block("specification", ("specification " + unit).c_str(), s.specification);
    if (!s.positive.points.empty()) block("positive", ("positive " + unit).c_str(), s.positive);
    if (!s.negative.points.empty()) block("negative", ("negative " + unit).c_str(), s.negative);
    return text;
}

// The plot command: the series drawn, and key entries for the diagonals.
std::string pvss_commands(const PvssUnits& units, const PvssSeries& s) {
    std::string text = "\nplot";
    if (!s.specification.points.empty()) {
        text += " $specification using 1:2 with linespoints pt 6 ps 0.9 lw 2.5 lc rgb \"black\" title \"specification\", \\\n    ";
    }
    if (!s.positive.points.empty()) {
        text += " $positive using 1:2 with linespoints pt 7 ps 0.6 lw 1.5 lc rgb \"#d62728\" title \"positive PV\", \\\n    ";
    }
    if (!s.negative.points.empty()) {
        text += " $negative using 1:2 with linespoints pt 5 ps 0.6 lw 1.5 lc rgb \"#1f77b4\" title \"negative PV\", \\\n    ";
    }
    text += format(" keyentry with lines lw 1 lc rgb \"#5f9f92\" title %s, \\\n",
                   gnuplot_string("constant displacement (" + units.displacement + ")").c_str());
    text += format("     keyentry with lines lw 1 lc rgb \"#c08a4d\" title %s\n",
                   gnuplot_string("constant acceleration (" + units.accel + ")").c_str());
    return text;
}

}  // namespace

std::string pvss_script(const PvssPicture& p) {
    const PvssUnits& units = p.units;
    const PvssSeries series = pvss_series(p);
    std::vector<double> freqs, velocities;
    for (const PvSeries* s : {&series.specification, &series.positive, &series.negative}) {
        for (const auto& [f, pv] : s->points) {
            freqs.push_back(f);
            velocities.push_back(pv);
        }
    }
    const std::optional<Decades> freq_decades = decades_bracketing(freqs);
    const std::optional<Decades> velocity_decades = decades_bracketing(velocities);
    const bool framed = freq_decades && velocity_decades;
    const ChartFrame frame = framed ? chart_frame(*freq_decades, *velocity_decades) : ChartFrame{};

    PvssPage page;
    page.height = page.top + frame.height_px + page.bottom;
    std::string text = header(
        p.names,
        p.description +
            format("# PV = 2 pi f max|z|, z the relative displacement of the oscillator (positive: max -z,\n"
                   "# negative: max z); the specification at PV = A x %g / (2 pi f).  On tripartite axes:\n"
                   "# diagonals of constant displacement (PV = 2 pi f D) and of constant acceleration\n"
                   "# (PV = A x %g / (2 pi f)).\n",
                   units.accel_factor, units.accel_factor),
        static_cast<int>(page.height), static_cast<int>(page.width));
    text += pvss_axes(p, page, frame, framed);
    if (framed) text += diagonal_commands(units, frame, series);
    return text + pvss_data(units, series) + pvss_commands(units, series);
}

}  // namespace quorel::plot
