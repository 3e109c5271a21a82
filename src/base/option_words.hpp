#pragma once
// The command lines of both programs in plain words.  CLI11 parses them; what
// each option takes is written down here once, and every refusal, CLI11's
// own ones included, is told in those words:
//   --q needs a value above 0.5
//   --q needs a value above 0.5, not 'abc'
//   --trials 99999999999999999999 is out of range: 1 to 2000
#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorel {

// An integer as a whole decimal token with an optional '+' or '-' (no octal
// or hexadecimal forms, no exponent); none when it does not fit 64 bits.
std::optional<int64_t> decimal_integer(const std::string& text);

// A whole decimal token (an optional '+', then what from_chars reads in its
// general format) read as a finite double; none otherwise.
std::optional<double> decimal_double(const std::string& text);

// What is wrong with a value, if anything.
enum class ValueFault {
    none,
    form,    // not a value of the kind the option takes
    range,   // of the right kind, outside the range
    beyond,  // a number beyond the largest float
};

struct ValueRule {
    std::string range;   // how the range reads, "1 to 2000"
    std::function<ValueFault(const std::string&)> judge;
};

// Whole numbers low..high; a longer run of digits is out of range too.
ValueRule whole_number_in(int64_t low, int64_t high);
// Decimal numbers whose float value is finite and passes `accept`.
ValueRule real_where(std::function<bool(float)> accept, std::string range);
// Decimal numbers above zero, read in double.
ValueRule positive_number();
// One of the words given.
ValueRule one_of(std::vector<std::string> choices);

// CLI11's help, with an option's "Needs:" and "Excludes:" each on a line of
// its own below the option's description rather than after its name.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override;
    std::string make_option_desc(const CLI::Option* option) const override;
};

class OptionWords {
public:
    OptionWords() = default;
    OptionWords(const OptionWords&) = delete;
    OptionWords& operator=(const OptionWords&) = delete;

    // `option` takes `needs` ("a value above 0.5"; for a positional, what it
    // is: "the specification file (SPECFILE)").  With a rule, a value it
    // refuses stops the parse.
    CLI::Option* takes(CLI::Option* option, std::string needs);
    CLI::Option* takes(CLI::Option* option, std::string needs, ValueRule rule);

    // The refusal of a parse in plain words, without a line end.
    std::string message(const CLI::App& app, const CLI::ParseError& error) const;

private:
    const CLI::Option* named_in(const CLI::App& app, const std::string& text) const;

    std::map<const CLI::Option*, std::string> needs_;
    std::string refusal_;   // the first value refused
};

// -q/--q Q and --damping RATIO, one excluding the other, each with its help;
// each takes its range of base/run_settings.hpp.  Returns (q, damping).
std::pair<CLI::Option*, CLI::Option*> add_damping_pair(CLI::App& app, std::string& q, std::string& damping,
                                                       OptionWords& words, const std::string& q_help,
                                                       const std::string& damping_help);

}  // namespace quorel
