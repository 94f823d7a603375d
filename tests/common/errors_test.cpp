#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "common/errors.h"
#include "tests/support/capture.h"

namespace mf {

TEST(ErrorName, NamesZeroTableEndsAndOutOfRange) {
    EXPECT_STREQ(error_name(0), "NO_ERROR");
    EXPECT_STREQ(error_name(1), "ERR_AC_CANT_AGC");
    EXPECT_STREQ(error_name(134), "ERR_CORRUPT_DATA_FILE");
    EXPECT_STREQ(error_name(462), "ERR_ZOOM_TIMEOUT");
    EXPECT_STREQ(error_name(463), "invalid error number 463");
    EXPECT_STREQ(error_name(-5), "invalid error number -5");
}

// Names come from the table, so a name stays valid and right whatever is asked
// next, on this thread or another; out-of-range texts are kept per thread.
TEST(ErrorName, EachCallKeepsItsOwnTextAcrossCallsAndThreads) {
    const char* first = error_name(120);
    const char* second = error_name(320);
    EXPECT_STREQ(first, "ERR_CANT_OPEN_FILE");
    EXPECT_STREQ(second, "ERR_NO_MEM");

    std::atomic<int> wrong{0};
    auto ask = [&wrong](int32_t code, const char* expected) {
        for (int i = 0; i < 20000; ++i)
            if (std::strcmp(error_name(code), expected) != 0) ++wrong;
    };
    std::thread a(ask, 134, "ERR_CORRUPT_DATA_FILE");
    std::thread b(ask, -5, "invalid error number -5");
    std::thread c(ask, 100000, "invalid error number 100000");
    ask(0, "NO_ERROR");
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(wrong.load(), 0);
}

// The numbers are an interface: spot-check codes that other modules and stored
// files rely on, and that the table and the constants agree everywhere.
TEST(ErrorTable, ConstantsAndNamesAgree) {
    EXPECT_STREQ(u_error_names[0], "");
    EXPECT_EQ(ERR_ALL_BAD_DATA, 27);
    EXPECT_EQ(ERR_CANT_CREATE_FILE, 116);
    EXPECT_EQ(ERR_CANT_OPEN_FILE, 120);
    EXPECT_EQ(ERR_CANT_READ_FILE, 123);
    EXPECT_EQ(ERR_CANT_WRITE_FILE, 125);
    EXPECT_EQ(ERR_INVALID_PARAM, 242);
    EXPECT_EQ(ERR_NO_MEM, 320);
    EXPECT_EQ(ERR_NOT_A_DATA_FILE, 328);
    EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, 333);
    EXPECT_EQ(ERR_PREMATURE_EOF, 353);
    EXPECT_EQ(ERR_QUOIN, 44);
    EXPECT_EQ(ERR_TARN_CONFIG_DATA, 194);
    EXPECT_EQ(ERR_DURIVIDI_ABORTED, 308);
    EXPECT_STREQ(u_error_names[ERR_SB_CALFILE_SYNTAX], "ERR_SB_CALFILE_SYNTAX");
    EXPECT_STREQ(u_error_names[ERR_WM_NAK], "ERR_WM_NAK");
    for (int code = 1; code <= ERR_LAST; ++code) {
        ASSERT_EQ(std::strncmp(u_error_names[code], "ERR_", 4), 0) << code;
        for (int other = code + 1; other <= ERR_LAST; ++other)
            ASSERT_STRNE(u_error_names[code], u_error_names[other]) << code << " " << other;
    }
}

TEST(ReportError, PrintsNameAndNewlineOnlyForFailures) {
    test::SinkCapture sink;
    u_report_error(0);
    EXPECT_EQ(sink.text(), "");
    u_report_error(134);
    EXPECT_EQ(sink.text(), "ERR_CORRUPT_DATA_FILE\n");
    u_fatal_error(0);
    EXPECT_EQ(sink.text(), "ERR_CORRUPT_DATA_FILE\n");
}

TEST(FatalErrorDeathTest, ExitsWithOneAfterPrintingTheName) {
    EXPECT_EXIT(u_fatal_error(320), testing::ExitedWithCode(1), "ERR_NO_MEM");
}

}  // namespace mf
