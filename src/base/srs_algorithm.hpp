#pragma once
// The recursive filters an SRS is computed with, and their names.
#include <cstdint>
#include <optional>
#include <string_view>

namespace quorel {

enum class SrsAlgorithm {
    kelly_richman,
    smallwood,       // the ramp-invariant filter (exact for an input linear between samples)
};

// The dialogue's menu: 1 Kelly-Richman, any other answer Smallwood.
inline SrsAlgorithm srs_algorithm_for_answer(int32_t answer) {
    return answer == 1 ? SrsAlgorithm::kelly_richman : SrsAlgorithm::smallwood;
}

// The name the command line and summary.json use: "kelly-richman" or "smallwood".
inline const char* srs_algorithm_name(SrsAlgorithm algorithm) {
    return algorithm == SrsAlgorithm::kelly_richman ? "kelly-richman" : "smallwood";
}

// The algorithm of a name; nothing for another.
inline std::optional<SrsAlgorithm> srs_algorithm_named(std::string_view name) {
    for (const SrsAlgorithm algorithm : {SrsAlgorithm::kelly_richman, SrsAlgorithm::smallwood}) {
        if (name == srs_algorithm_name(algorithm)) return algorithm;
    }
    return std::nullopt;
}

}  // namespace quorel
