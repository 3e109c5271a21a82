#pragma once
// A synthesis as a scripted front end asks for it: every answer given or left
// to the command line's default.  The command line and the Python module turn
// their arguments into one of these, and the run is prepared from it here, the
// same way for both.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/console.hpp"
#include "base/run_settings.hpp"
#include "engine/engine.hpp"
#include "feasibility/drive_limits.hpp"
#include "acceptance/acceptance.hpp"
#include "specification/resample.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

struct RunRequest {
    // The specification: the file, read by the engine's reader, or its points.
    std::string spec_file;                   // summary.json's spec_file (null for given points)
    bool spec_given = false;                 // the points below instead of the file
    std::vector<float> spec_freq, spec_accel;
    std::string spec_name;                   // names the given points in messages

    SrsAlgorithm algorithm = SrsAlgorithm::smallwood;
    OctaveSpacing spacing = OctaveSpacing::sixth;
    std::optional<float> q;                  // damping as Q (10 when neither is given)
    std::optional<float> damping;            // or as a ratio of critical
    int32_t trials = 200;
    UnitSystem units = UnitSystem::english;
    int32_t seed = 1;
    std::optional<float> sample_rate;        // default: 10 x the top grid frequency
    std::string sample_rate_text;            // the rate as given, with its option's name, for the message of a low one
    std::optional<int32_t> points;           // or
    std::optional<float> duration;           // default: 2 / lowest frequency
    // The folder for every file (the run creates it); none: nothing is
    // written.  "." is the working directory.
    std::optional<std::string> output_dir = ".";
    int32_t threads = 0;                     // 0: every hardware thread
    DriveLimits limits;
    std::optional<AcceptanceRules> acceptance;
    std::optional<OptimalRequest> optimal;   // the optimal drive after the trials
};

struct PreparedRun {
    RunSettings settings;
    SrsSpec spec;
    OutputNames names;
    EngineOptions options;
};

// Reads (or takes) the specification and builds its grid, sets and checks the
// time grid, and finds the least peaks any drive of the duration needs.
// `out` gets what the command line prints on the way, each text in one call:
// the warning of a grid cut to 125 points, the warning of a reduced duration,
// the time-grid line, the least peaks and the warnings of limits below them.
// Every fault throws QuorelError, the duration check's after the time-grid
// line.
PreparedRun prepare_run(const RunRequest& request, TextOutput& out);

}  // namespace quorel
