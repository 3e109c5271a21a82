#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/error.hpp"
#include "base/output_file.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::files_ending;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// Until it is complete a result file lives under its temporary name, and the
// name keeps what it held; given up, it leaves nothing behind.  A leftover at
// the temporary name (here a link) is replaced, never written through.
TEST(OutputFile, AResultFileTakesItsNameOnlyOnceComplete) {
    TempDir dir;
    write_file("srs_3.out", "earlier run\n");
    {
        OutputFile file("srs_3.out");
        file.write("first half\n");
        file.flush();
        EXPECT_EQ(read_file("srs_3.out"), "earlier run\n");
        EXPECT_EQ(read_file("srs_3.out.part"), "first half\n");
    }
    EXPECT_EQ(read_file("srs_3.out"), "earlier run\n");
    EXPECT_TRUE(files_ending({".part"}).empty());

    write_file("elsewhere", "keep\n");
    std::filesystem::create_symlink("elsewhere", "srs_3.out.part");
    OutputFile file("srs_3.out");
    file.write("whole table\n");
    file.close();
    EXPECT_EQ(read_file("srs_3.out"), "whole table\n");
    EXPECT_EQ(read_file("elsewhere"), "keep\n");
    EXPECT_TRUE(files_ending({".part"}).empty());
}

// A trial log that is a link is refused, naming it; its target is untouched.
TEST(OutputFile, ATrialLogThatIsALinkIsRefused) {
    TempDir dir;
    write_file("elsewhere", "keep\n");
    std::filesystem::create_symlink("elsewhere", "trials.out");
    try {
        OutputFile log("trials.out", OutputFile::Kind::trial_log);
        FAIL() << "a linked trial log was opened";
    } catch (const QuorelError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "\n Error: trials.out is a symbolic link: the trial log must be a file of its own \n");
    }
    EXPECT_EQ(read_file("elsewhere"), "keep\n");
}

}  // namespace
}  // namespace quorel
