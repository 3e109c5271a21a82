#pragma once
// The one error type of the program.  A fatal check anywhere throws it with the
// exact console text of its message; the entry point prints that text, flushes
// standard output and ends the process with status 1.
#include <stdexcept>
#include <string>

namespace quorel {

class QuorelError : public std::runtime_error {
public:
    explicit QuorelError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace quorel
