#pragma once
// Files written under a temporary name (<name>.part) and given their own
// names only when complete: a reader never finds a half-written file under a
// final name.  Every .part file not yet renamed is removed when the object
// dies, also when a failure unwinds past it.
#include <string>
#include <vector>

namespace quorel {

class PartFiles {
public:
    PartFiles() = default;
    PartFiles(const PartFiles&) = delete;
    PartFiles& operator=(const PartFiles&) = delete;
    ~PartFiles();

    // Registers <final_name>.part, written by someone else, and returns its name.
    std::string add(const std::string& final_name);
    // Writes `text` to <final_name>.part; a failed write throws QuorelError.
    void write(const std::string& final_name, const std::string& text);
    // Renames <final_name>.part to final_name; throws QuorelError on failure.
    void commit(const std::string& final_name);

private:
    std::vector<std::string> names_;
};

}  // namespace quorel
