#pragma once
// The console layer: every question, answer and message of a run passes through
// here, over a std::istream / std::ostream pair, so a whole run can be driven from
// a scripted answer stream.
//
// Answers are whitespace-delimited tokens.  An integer answer is a whole token of
// decimal digits with an optional sign, clamped to the int32 range.  A real
// answer is a whole decimal token (sign, digits, optional point, optional
// exponent) whose value as a float is finite.  Anything else ends the run with a
// message naming the token; so does the end of the input, and so does a token
// of more than max_answer_length characters.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace quorel {

// Where the text of a run goes: the dialogue's console, or the command line's
// standard output.  Writers of messages and reports take one of these.
class TextOutput {
public:
    virtual ~TextOutput() = default;
    virtual void print(std::string_view text) = 0;
};

// Text nobody reads.
class DiscardText : public TextOutput {
public:
    void print(std::string_view) override {}
};

// Ends the run once `out`, the run's standard output, has failed (a closed
// pipe, a full disk): "\n Error: cannot write to standard output: <reason> \n",
// the reason being that of errno, which the failed write has just set.  A run
// never carries on, or reports success, with text that nobody received.
void check_output(const std::ostream& out);

// Writes `text` to `out` and flushes it; a failure throws as check_output.
void print_all(std::ostream& out, std::string_view text);

// Reads the final key press (the key itself does not matter).
using KeyReader = std::function<int()>;

// The key wait of an interactive terminal: one key, raw (no echo, no Enter);
// returns its character code.  When standard input is not a terminal nothing
// is read and 0 is returned.
int read_key_from_stdin();

// Every print and flush is checked with check_output.
class Console : public TextOutput {
public:
    Console(std::istream& in, std::ostream& out, KeyReader key_reader);

    void print(std::string_view text) override;
    void flush();

    int32_t read_int();
    float read_real();
    // A real answer where an unreadable token is consumed and ignored
    // (nullopt); only the end of input is fatal.
    std::optional<float> read_real_or_ignore();
    // The specification file name: any token below 260 characters.
    std::string read_file_name();

    // Waits for the final key press.
    void wait_key();

    // Longer answers end the run ("answer too long"); no real answer needs
    // more than a few dozen characters.
    static constexpr size_t max_answer_length = 4096;

private:
    std::string read_token(bool& too_long);
    std::string read_answer();

    std::istream& in_;
    std::ostream& out_;
    KeyReader key_reader_;
};

// Token syntax checks, exposed for the tests.
bool parse_int_token(std::string_view token, int32_t& value);
// [+-] digits [. digits] [(e|E) [+-] digits], at least one mantissa digit.
bool is_decimal_token(const std::string& token);
// A decimal token whose float value is finite.
bool parse_real_token(const std::string& token, float& value);

}  // namespace quorel
