#pragma once
// The options the synthesis's command line and quorel check share: the SRS
// algorithm, the damping as Q or as a ratio, the unit system, and how their
// values are read.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "base/srs_algorithm.hpp"
#include "base/units.hpp"

namespace quorel {

class OptionWords;

// Reals are read as the dialogue reads its answers: decimal tokens rounded
// once to float.
float decimal_real(const std::string& text);

// -a/--algorithm NAME: smallwood or kelly-richman.
void add_algorithm_option(CLI::App& app, std::string& algorithm, OptionWords& words);
// The algorithm of a name the option took (Smallwood for another).
SrsAlgorithm algorithm_answer(const std::string& name);

// -q/--q Q and --damping RATIO, one or the other.
void add_damping_options(CLI::App& app, std::string& q, std::string& damping, OptionWords& words);
// The damping given: as Q or as a ratio of critical, each read by decimal_real.
struct DampingGiven {
    std::optional<float> q, damping;
};
DampingGiven damping_given(const std::string& q, const std::string& damping);

// -u/--units SYSTEM: english, metric or si; `help` says what they are units of.
void add_units_option(CLI::App& app, std::string& units, OptionWords& words, const std::string& help);

}  // namespace quorel
