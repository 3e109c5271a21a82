#include "plot/gnuplot_script.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/format.hpp"

namespace quorel::plot {

namespace {

// One colour per band, the first for the innermost band given.
const char* const band_colours[] = {"#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"};

// Text shown in a title or a label: control characters would end or cut the
// script line.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return out;
}

std::string header(const std::string& picture, const std::string& script, const std::string& description, int height,
                   int width = 900) {
    std::string text;
    text += format("if (!exists(\"outfile\")) outfile = %s\n", gnuplot_string(picture).c_str());
    text += description;
    text += "# Redraw:  gnuplot " + script + "\n";
    text += "# To a file of your choice:  gnuplot -e \"outfile='other.svg'\" " + script + "\n\n";
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
    return {format("srs_%ld.svg", trial),     format("srs_%ld.gp", trial),  format("history_%ld.svg", trial),
            format("history_%ld.gp", trial), format("pvss_%ld.svg", trial), format("pvss_%ld.gp", trial)};
}

std::string gnuplot_string(const std::string& text) {
    std::string out = "'";
    for (const char c : printable(text)) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string srs_script(const PlotContext& context, const std::vector<SpecPoint>& spec, const Compliance& compliance) {
    const std::vector<ToleranceBand>& bands = compliance.rules.bands;
    const std::string srs = gnuplot_string(context.files.srs);
    std::string band_names;
    for (const ToleranceBand& b : bands) band_names += (band_names.empty() ? "" : ", ") + band_label(b);
    const PlotNames names = plot_names(context.trial);
    std::string text = header(names.srs_picture, names.srs_script,
                              format("# SRS of trial %ld (srs_%ld.out) against the specification, with its\n"
                                     "# tolerance bands %s.\n",
                                     context.trial, context.trial, band_names.c_str()),
                              650);

    // Frequencies of the derived series: the specification's own points, the
    // grid frequencies and the ends of the bands' ranges within them,
    // ascending, each once.
    std::vector<double> freqs;
    for (const SpecPoint& p : spec) freqs.push_back(p.freq);
    for (const ComplianceRow& row : compliance.rows) freqs.push_back(row.freq);
    const auto [lowest, highest] = std::minmax_element(freqs.begin(), freqs.end());
    const double first = *lowest, last = *highest;
    for (const ToleranceBand& b : bands) {
        for (const double end : {b.from_hz, b.to_hz}) {
            if (first < end && end < last) freqs.push_back(end);
        }
    }
    std::sort(freqs.begin(), freqs.end());
    freqs.erase(std::unique(freqs.begin(), freqs.end()), freqs.end());

    const double f_low = freqs.front();
    const double f_high = freqs.back();
    text += format("\nset title %s noenhanced\n", gnuplot_string(format("SRS of trial %ld against %s", context.trial,
                                                                         context.spec_name.c_str()))
                                                     .c_str());
    text += "set xlabel \"Natural frequency (Hz)\"\n";
    text += format("set ylabel %s\n", gnuplot_string("Peak acceleration (" + context.units.accel + ")").c_str());
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
        if (const auto a = spec_at(spec, f)) {
            a_low = std::min(a_low, *a * std::pow(10.0, lowest_db / 20.0));
            a_high = std::max(a_high, *a * std::pow(10.0, highest_db / 20.0));
        }
    }
    for (const ComplianceRow& row : compliance.rows) {
        for (const double a : {row.positive, row.negative}) {
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

    // A band's edges beyond its frequency range are NaN: gnuplot leaves those
    // points out and draws no line to them.
    auto range_text = [](const ToleranceBand& b) { return b.limited() ? format(" %g-%g Hz", b.from_hz, b.to_hz) : ""; };
    text += "\n# frequency(Hz)  specification";
    for (const ToleranceBand& b : bands) {
        text += "  " + edge_label(b.low_db) + "  " + edge_label(b.high_db) + range_text(b);
    }
    text += "\n$bands << EOD\n";
    for (const double f : freqs) {
        const std::optional<double> a = spec_at(spec, f);
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
    text += "EOD\n\nplot";
    int column = 3;
    for (size_t i = 0; i < bands.size(); ++i) {
        const char* colour = band_colours[i % (sizeof band_colours / sizeof band_colours[0])];
        for (const double db : {bands[i].low_db, bands[i].high_db}) {
            text += format(" $bands using 1:%d with lines dt 2 lw 1.5 lc rgb \"%s\" title %s, \\\n    ", column++,
                           colour, gnuplot_string(edge_label(db) + range_text(bands[i])).c_str());
        }
    }
    text += " $bands using 1:2 with lines lw 2.5 lc rgb \"black\" title \"specification\", \\\n";
    text += format("     %s using 1:2 with linespoints pt 7 ps 0.6 lw 1.5 lc rgb \"#d62728\" title \"positive SRS\", \\\n",
                   srs.c_str());
    text += format("     %s using 1:3 with linespoints pt 5 ps 0.6 lw 1.5 lc rgb \"#1f77b4\" title \"negative SRS\"\n",
                   srs.c_str());
    return text;
}

std::string history_script(const PlotContext& context) {
    const TrialFileNames& f = context.files;
    const PlotNames names = plot_names(context.trial);
    std::string text = header(names.history_picture, names.history_script,
                              format("# Time history of trial %ld: accel_%ld.out, velox_%ld.out and disp_%ld.out.\n",
                                     context.trial, context.trial, context.trial, context.trial),
                              900);
    text += format("\nset multiplot layout 3,1 title %s noenhanced\n",
                   gnuplot_string(format("Time history of trial %ld", context.trial)).c_str());
    text += "set grid lw 1 lc rgb \"#d0d0d0\"\n";
    text += "set autoscale xfix\n";
    text += "set key tmargin right horizontal nobox\n";
    text += "set lmargin 12\nset rmargin 4\n";
    text += "set xlabel \"Time (sec)\"\n";
    struct Panel {
        const std::string* file;
        const char* label;   // the axis
        const char* title;   // the key
        const std::string* unit;
        const char* colour;
    };
    const Panel panels[] = {{&f.accel, "Acceleration", "acceleration", &context.units.accel, "#1f77b4"},
                            {&f.velocity, "Velocity", "velocity", &context.units.velocity, "#2ca02c"},
                            {&f.displacement, "Displacement", "displacement", &context.units.displacement, "#d62728"}};
    for (const Panel& p : panels) {
        text += format("set ylabel %s\n", gnuplot_string(std::string(p.label) + " (" + *p.unit + ")").c_str());
        text += format("plot %s using 1:2 with lines lw 1 lc rgb \"%s\" title \"%s\"\n", gnuplot_string(*p.file).c_str(),
                       p.colour, p.title);
    }
    text += "unset multiplot\n";
    return text;
}

std::string pvss_script(const PlotContext& context, const PvssUnits& units, const std::vector<SpecPoint>& spec,
                        const std::vector<SrsLine>& srs) {
    // The series, each point with a pseudo velocity a log axis can show.
    struct Series {
        Curve points;
        void add(double f, double pv) {
            if (pv > 0.0 && std::isfinite(pv)) points.push_back({f, pv});
        }
    };
    Series specification, positive, negative;
    for (const SpecPoint& p : spec) specification.add(p.freq, pseudo_velocity(units, p.accel, p.freq));
    for (const SrsLine& line : srs) {
        positive.add(line.freq, pseudo_velocity(units, line.positive, line.freq));
        negative.add(line.freq, pseudo_velocity(units, line.negative, line.freq));
    }
    std::vector<double> freqs, velocities;
    for (const Series* series : {&specification, &positive, &negative}) {
        for (const auto& [f, pv] : series->points) {
            freqs.push_back(f);
            velocities.push_back(pv);
        }
    }
    const std::optional<Decades> freq_decades = decades_bracketing(freqs);
    const std::optional<Decades> velocity_decades = decades_bracketing(velocities);
    const bool framed = freq_decades && velocity_decades;
    const ChartFrame frame = framed ? chart_frame(*freq_decades, *velocity_decades) : ChartFrame{};

    // The page: the plot area of the frame, the title above it, the frequency
    // axis below, the key to the right.
    constexpr double page_width = 960.0, left = 85.0, top = 50.0, bottom = 65.0;
    const double page_height = top + frame.height_px + bottom;
    const PlotNames names = plot_names(context.trial);
    std::string text = header(
        names.pvss_picture, names.pvss_script,
        format("# Pseudo-velocity shock spectrum of trial %ld (srs_%ld.out) and of the specification,\n"
               "# PV = SRS x %g / (2 pi f), on tripartite axes: diagonals of constant displacement\n"
               "# (PV = 2 pi f D) and of constant acceleration (PV = A x %g / (2 pi f)).\n"
               "# The pseudo velocities are computed from srs_%ld.out and held inline below.\n",
               context.trial, context.trial, units.accel_factor, units.accel_factor, context.trial),
        static_cast<int>(page_height), static_cast<int>(page_width));

    text += format("\nset title %s noenhanced\n",
                   gnuplot_string(format("Pseudo-velocity shock spectrum of trial %ld against %s", context.trial,
                                         context.spec_name.c_str()))
                       .c_str());
    text += "set xlabel \"Natural frequency (Hz)\"\n";
    text += format("set ylabel %s\n", gnuplot_string("Pseudo velocity (" + units.velocity + ")").c_str());
    text += "set logscale xy\n";
    text += "set format x \"%g\"\nset format y \"%g\"\n";
    text += "set grid xtics ytics mxtics mytics lw 1 lc rgb \"#c8c8c8\", lw 0.5 lc rgb \"#e6e6e6\"\n";
    text += format("set lmargin at screen %.6f\nset rmargin at screen %.6f\n", left / page_width,
                   (left + frame.width_px) / page_width);
    text += format("set bmargin at screen %.6f\nset tmargin at screen %.6f\n", bottom / page_height,
                   (bottom + frame.height_px) / page_height);
    text += format("set key at screen %.6f, %.6f left top Left reverse box opaque spacing 1.2\n",
                   (left + frame.width_px + 20.0) / page_width, (bottom + frame.height_px) / page_height);
    if (framed) {
        text += format("set xrange [%g:%g]\nset yrange [%g:%g]\n", frame.freq.from(), frame.freq.to(),
                       frame.velocity.from(), frame.velocity.to());
        text += log_tics_125("xtics", frame.freq.from(), frame.freq.to());
        text += log_tics_125("ytics", frame.velocity.from(), frame.velocity.to());

        // Diagonals behind the curves: decades darker, their 2 and 5 lighter.
        const TripartiteGrid grid =
            tripartite_grid(units, frame, {specification.points, positive.points, negative.points});
        text += format("\n# Constant displacement (%s), slope +1, and constant acceleration (%s), slope -1.\n",
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
    }

    auto block = [&](const char* name, const char* heading, const Series& series) {
        text += format("\n# frequency(Hz)  %s\n$%s << EOD\n", heading, name);
        for (const auto& [f, pv] : series.points) text += format("%.9g %.8g\n", f, pv);
        text += "EOD\n";
    };
    const std::string unit = "(" + units.velocity + ")";
    block("specification", ("specification " + unit).c_str(), specification);
    block("positive", ("positive " + unit).c_str(), positive);
    block("negative", ("negative " + unit).c_str(), negative);

    text += "\nplot $specification using 1:2 with linespoints pt 6 ps 0.9 lw 2.5 lc rgb \"black\" title \"specification\", \\\n";
    text += "     $positive using 1:2 with linespoints pt 7 ps 0.6 lw 1.5 lc rgb \"#d62728\" title \"positive PV\", \\\n";
    text += "     $negative using 1:2 with linespoints pt 5 ps 0.6 lw 1.5 lc rgb \"#1f77b4\" title \"negative PV\", \\\n";
    text += format("     keyentry with lines lw 1 lc rgb \"#5f9f92\" title %s, \\\n",
                   gnuplot_string("constant displacement (" + units.displacement + ")").c_str());
    text += format("     keyentry with lines lw 1 lc rgb \"#c08a4d\" title %s\n",
                   gnuplot_string("constant acceleration (" + units.accel + ")").c_str());
    return text;
}

}  // namespace quorel::plot
