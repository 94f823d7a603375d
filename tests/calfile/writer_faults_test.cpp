// The calibration writer swept over every file operation it makes: the target is
// either as it was or the complete new file, and no temporary file remains.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "calfile/record.h"
#include "calfile/sysinfo.h"
#include "calfile/writer.h"
#include "common/error_codes.h"
#include "tests/support/capture.h"
#include "tests/support/file_faults.h"
#include "tests/support/temp_dir.h"
#include "tests/support/env.h"

namespace mf {
namespace {

// Points the system's temporary folder at a test folder for one test.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const std::string& folder) {
        const char* old = std::getenv(variable);
        had_ = old != nullptr;
        if (had_) old_ = old;
        set(folder.c_str());
    }
    ~TempFolderOverride() { set(had_ ? old_.c_str() : nullptr); }

private:
#ifdef _WIN32
    static constexpr const char* variable = "TMP";
#else
    static constexpr const char* variable = "TMPDIR";
#endif
    static void set(const char* value) { test::set_env(variable, value); }
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(CalWriterFaults, EveryFileFaultLeavesTheTargetWholeOrNew) {
    sysInfo* si = sb_slot(0);
    sb_setDefaults(si);
    {
        test::SinkCapture quiet;
        ASSERT_EQ(sb_readCal(0, "+ScarpVS 1 1 100"), 0) << quiet.text();
    }
    test::TempDir temp_folder, dir;
    TempFolderOverride redirect(temp_folder.path());
    const std::string target = dir.file("sys.cal");
    std::string complete;
    {
        test::SinkCapture quiet;
        ASSERT_EQ(sb_writeCal(0, target.c_str()), 0) << quiet.text();
        complete = test::read_file(target);
    }
    // The temporary file: create, write, close; the copy: open, read until the
    // end, then create, write, sync, close and rename beside the target.
    const int operations = test::sweep_writer({target,
                                               "# an older calibration file\n",
                                               true,
                                               complete,
                                               [&] {
                                                   test::SinkCapture quiet;
                                                   return sb_writeCal(0, target.c_str());
                                               },
                                               ERR_CANT_CREATE_FILE,
                                               {dir.path(), temp_folder.path()}});
    EXPECT_GE(operations, 10);
    sb_setDefaults(si);
}

}  // namespace mf
