#include "base/text_file.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

std::string read_text_file(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::exists(name, error)) throw QuorelError(format("\n Error: cannot open %s: no such file \n", name.c_str()));
    if (!fs::is_regular_file(name, error)) {
        throw QuorelError(format("\n Error: %s is not a regular file \n", name.c_str()));
    }
    std::ifstream file(name, std::ios::binary);
    std::ostringstream text;
    if (file) text << file.rdbuf();
    if (!file || file.bad()) throw QuorelError(format("\n Error: cannot read %s \n", name.c_str()));
    return text.str();
}

}  // namespace quorel
