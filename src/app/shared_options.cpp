#include "app/shared_options.hpp"

#include "base/console.hpp"
#include "base/option_words.hpp"

namespace quorel {

float decimal_real(const std::string& text) {
    float value = 0.0f;
    parse_real_token(text, value);
    return value;
}

void add_algorithm_option(CLI::App& app, std::string& algorithm, OptionWords& words) {
    words.takes(app.add_option("-a,--algorithm", algorithm, "SRS filters: smallwood or kelly-richman (default smallwood)")
                    ->option_text("NAME"),
                "smallwood or kelly-richman", one_of({"smallwood", "kelly-richman"}));
}

SrsAlgorithm algorithm_answer(const std::string& name) {
    return srs_algorithm_named(name).value_or(SrsAlgorithm::smallwood);
}

void add_damping_options(CLI::App& app, std::string& q_text, std::string& damping, OptionWords& words) {
    add_damping_pair(app, q_text, damping, words, "SRS damping as Q, above 0.5 (default 10; not with --damping)",
                     "SRS damping as a ratio of critical, 0 <= RATIO < 1 (not with --q)");
}

DampingGiven damping_given(const std::string& q, const std::string& damping) {
    DampingGiven given;
    if (!damping.empty()) given.damping = decimal_real(damping);
    if (!q.empty()) given.q = decimal_real(q);
    return given;
}

void add_units_option(CLI::App& app, std::string& units, OptionWords& words, const std::string& help) {
    std::vector<std::string> names;
    for (const UnitTable& t : unit_tables) names.push_back(t.name);
    words.takes(app.add_option("-u,--units", units, help)->option_text("SYSTEM"), "english, metric or si",
                one_of(names));
}

}  // namespace quorel
