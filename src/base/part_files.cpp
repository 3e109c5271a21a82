#include "base/part_files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

namespace fs = std::filesystem;

PartFiles::~PartFiles() {
    std::error_code ignored;
    for (const std::string& name : names_) fs::remove(name, ignored);
}

std::string PartFiles::add(const std::string& final_name) {
    names_.push_back(final_name + ".part");
    return names_.back();
}

void PartFiles::write(const std::string& final_name, const std::string& text) {
    const std::string part = add(final_name);
    std::ofstream file(part, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) throw QuorelError(format("\n Error: cannot write %s \n", part.c_str()));
}

void PartFiles::commit(const std::string& final_name) {
    const std::string part = final_name + ".part";
    std::error_code error;
    fs::rename(part, final_name, error);
    if (error) throw QuorelError(format("\n Error: cannot rename %s to %s \n", part.c_str(), final_name.c_str()));
    names_.erase(std::remove(names_.begin(), names_.end(), part), names_.end());
}

}  // namespace quorel
