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
    static void set(const char* value) { _putenv_s(variable, value ? value : ""); }
#else
    static constexpr const char* variable = "TMPDIR";
    static void set(const char* value) { value ? setenv(variable, value, 1) : unsetenv(variable); }
#endif
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
    const std::string old = "# an older calibration file\n";
    std::string complete;
    {
        test::SinkCapture quiet;
        ASSERT_EQ(sb_writeCal(0, target.c_str()), 0) << quiet.text();
        complete = test::read_file(target);
    }
    int32_t status = -1;
    const int operations = test::sweep_file_faults(
        [&] {
            test::write_file(target, old);
            test::SinkCapture quiet;
            status = sb_writeCal(0, target.c_str());
        },
        [&](int n, platform::file_op op, bool fired) {
            const std::string at = "fault at operation " + std::to_string(n) + " (" + test::op_name(op) + ")";
            if (status == 0) {
                EXPECT_EQ(test::read_file(target), complete) << at;
            } else {
                EXPECT_TRUE(fired) << at;
                EXPECT_EQ(status, n == 1 ? ERR_CANT_CREATE_FILE : ERR_CANT_WRITE_FILE) << at;
                EXPECT_EQ(test::read_file(target), old) << at;
            }
            EXPECT_EQ(temp_folder.entries().size(), 0u) << at;
            EXPECT_EQ(dir.entries().size(), 1u) << at;
        });
    // The temporary file: create, write, close; the copy: open, read until the
    // end, then create, write, sync, close and rename beside the target.
    EXPECT_GE(operations, 10);
    sb_setDefaults(si);
}

}  // namespace mf
