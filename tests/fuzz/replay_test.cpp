// The fuzz targets' saved inputs, replayed through the same harness functions
// the fuzzers call: every minimized finding under fuzz/regressions/<target>/
// (each in its own child process, so that a crash, a sanitizer report or a
// violated invariant names its file and the other inputs still run), and the
// seed corpora under fuzz/corpus/<target>/.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/harness.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

namespace fs = std::filesystem;

using Harness = fuzz::Outcome (*)(const uint8_t*, size_t);

struct Target {
    const char* name;
    Harness run;
};

const Target targets[] = {
    {"spec_file", fuzz::fuzz_spec_file},
    {"dialogue", fuzz::fuzz_dialogue},
    {"tiny_run", fuzz::fuzz_tiny_run},
    {"acceptance", fuzz::fuzz_acceptance},
    {"record", fuzz::fuzz_record},
    {"mat", fuzz::fuzz_mat},
    {"wav", fuzz::fuzz_wav},
    {"hdf5", fuzz::fuzz_hdf5},
    {"uff58", fuzz::fuzz_uff58},
};

// The input files of fuzz/<folder>/<target>, in name order; none when the
// folder does not exist.
std::vector<fs::path> inputs(const std::string& folder, const char* target) {
    const fs::path dir = fs::path(QUOREL_FUZZ_DIR) / folder / target;
    std::vector<fs::path> files;
    if (!fs::is_directory(dir)) return files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.') files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fuzz::Outcome replay(const Target& target, const fs::path& file) {
    const std::vector<uint8_t> bytes = read_bytes(file);
    return target.run(bytes.data(), bytes.size());
}

// Each finding once crashed, hung, or broke an invariant: it must now end as
// an ordinary refusal or a correct run.
TEST(FuzzReplay, RegressionInputsEndCleanly) {
    testing::TempDir home;   // the harness moves into its own directory; this one restores the old
    for (const Target& target : targets) {
        for (const fs::path& file : inputs("regressions", target.name)) {
            SCOPED_TRACE(file.string());
            EXPECT_EXIT(
                {
                    replay(target, file);
                    std::exit(0);
                },
                ::testing::ExitedWithCode(0), "")
                << file;
        }
    }
}

// The seeds run without a finding, and each target's seeds include inputs that
// get past every input check (a complete load and grid, a dialogue that reaches
// the trial log, a finished run whose files are checked) as well as inputs that
// are refused: a target whose seeds all stopped at the first question would
// fuzz nothing behind it.
TEST(FuzzReplay, SeedsReachBothOutcomes) {
    testing::TempDir home;
    for (const Target& target : targets) {
        SCOPED_TRACE(target.name);
        const std::vector<fs::path> files = inputs("corpus", target.name);
        ASSERT_FALSE(files.empty());
        int completed = 0;
        int refused = 0;
        for (const fs::path& file : files) {
            (replay(target, file) == fuzz::Outcome::completed ? completed : refused) += 1;
        }
        EXPECT_GT(completed, 0);
        EXPECT_GT(refused, 0);
    }
}

}  // namespace
}  // namespace quorel
