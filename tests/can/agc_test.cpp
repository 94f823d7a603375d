// Light-level control's start, stop and hold rules and its thread's failures, on the
// virtual instrument and camera.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>

#include "common/error_codes.h"
#include "tests/can/agc_fixture.h"

namespace mf::test {
namespace {

class AgcControl : public AgcTest {
protected:
    // Carries out one operation of the orders script; the state after it as a line.
    std::string run(const std::string& op) {
        std::istringstream words(op);
        std::string verb;
        int32_t value = 0;
        words >> verb >> value;
        int32_t rc = 0;
        if (verb == "start") rc = can_agc_start(&si_, value);
        if (verb == "stop") rc = can_agc_stop(&si_);
        if (verb == "hold" || verb == "release") rc = can_agc_hold(&si_, verb == "hold");
        if (verb == "mode") rc = ac_llc_mode(&si_, value);
        can_agc_settings s = can_agc_get_settings();
        if (verb == "disable" || verb == "enable") s.enabled = verb == "enable";
        if (verb == "viewing" || verb == "camera") s.light_path = verb == "camera" ? AGC_PATH_CAMERA : AGC_PATH_VIEWING;
        can_agc_set_settings(s);
        const bool thread = can_agc_thread_exists;
        // A thread shows its first frame only after it has read the wheel's level.
        if (thread) {
            const auto frames = static_cast<int64_t>(camera_->frames().size());
            EXPECT_TRUE(camera_->wait_frames(frames + 1, 20000)) << op;
        }
        std::ostringstream line;
        line << op << ": rc=" << rc << " active=" << can_agc_active_value() << " thread=" << (thread ? "yes" : "no")
             << " reads=" << level_reads();
        return line.str();
    }
};

TEST_F(AgcControl, StartStopHoldAndReleaseInEveryOrderKeepOneThread) {
    use_camera({}, on_target_raw);
    std::ifstream script(MF_CAN_TEST_DATA "/agc_orders.txt");
    std::string expected, line;
    std::string got;
    while (std::getline(script, line)) {
        if (line.empty() || line[0] == '#') continue;
        expected += line + "\n";
        got += run(line.substr(0, line.find(':'))) + "\n";
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(level_writes().size(), 0u);
    // Every stop of a running thread kept the wheel's level as the light source's.
    EXPECT_EQ(can_agc_get_settings().level, static_cast<uint16_t>(~on_target_raw));
    EXPECT_EQ(out_.text().find("Failed"), std::string::npos);
}

// Where light-level control does not apply nothing starts; on the family with the
// auxiliary motor its position is the light path.
TEST_F(AgcControl, ApplicabilityAndLightPath) {
    use_camera({}, on_target_raw);
    struct {
        int32_t sys_type, board;
        bool ndw_required;
        int aux_position;  // -1: the read is refused
        int32_t rc;
        bool thread, not_applicable;
    } const cases[] = {
        {23, BOARD_CAN, true, 0, 0, true, false},
        {25, BOARD_CAN, true, 0, 0, true, false},
        {22, BOARD_CAN, true, 0, 0, false, true},
        {23, 3, true, 0, 0, false, true},
        {23, BOARD_CAN, false, 0, 0, false, true},
        {26, BOARD_CAN, true, 2, 0, true, false},
        {26, BOARD_CAN, true, 0, 0, true, false},
        {26, BOARD_CAN, true, 1, 0, false, false},
        {26, BOARD_CAN, true, -1, ERR_CAN_SDO_AUX_MOTOR_ERROR, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.sys_type << "/" << c.board << "/" << c.aux_position);
        si_.sysType = c.sys_type;
        si_.boardType = c.board;
        state().required.focus_ndw = c.ndw_required;
        sim().set_object(CAN_NODE_ID_AUX_MOTOR, 0x2047, 0, {static_cast<uint8_t>(c.aux_position)});
        sim().set_sdo_abort(CAN_NODE_ID_AUX_MOTOR, 0x2047, 0, c.aux_position < 0 ? 0x08000000 : 0);
        out_.clear();
        const std::string message = stamp_at(clock_.monotonic_ms()) + "can_agc_start: CAN AGC is not applicable\n";
        EXPECT_EQ(can_agc_start(&si_, 1), c.rc);
        EXPECT_EQ(bool(can_agc_thread_exists), c.thread);
        EXPECT_EQ(can_agc_active_value(), c.thread ? 1 : 0);
        EXPECT_EQ(out_.text() == message, c.not_applicable) << out_.text();
        EXPECT_EQ(can_agc_stop_thread(), 0);
        can_agc_init();
        state().required.focus_ndw = true;
        si_.boardType = BOARD_CAN;
    }
}

// The thread gives up only after ten failures in a row: then it ends with the error
// and clears the active value.
TEST_F(AgcControl, TenFailuresInARowEndTheThreadNineDoNot) {
    struct {
        bool copies;
        int64_t count;
        int32_t error;
        bool ends;
        const char* message;
    } const cases[] = {
        {false, 10, ERR_ACQ_TIMEOUT, true, "can_agc_thread_func: Error grabbing frame: ERR_ACQ_TIMEOUT\n"},
        {false, 9, ERR_ACQ_TIMEOUT, false, "can_agc_thread_func: Error grabbing frame: ERR_ACQ_TIMEOUT\n"},
        {true, 10, ERR_LOST_FRAME, true, "can_agc_thread_func: Error copying frame: ERR_LOST_FRAME\n"},
        {true, 9, ERR_LOST_FRAME, false, "can_agc_thread_func: Error copying frame: ERR_LOST_FRAME\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        auto& camera = use_camera({}, on_target_raw);
        if (c.copies)
            camera.fail_copies(1, c.count, c.error);
        else
            camera.fail_grabs(1, c.count, c.error);
        out_.clear();
        ASSERT_EQ(can_agc_start(&si_, 2), 0);
        ASSERT_TRUE(camera.wait_frames(c.ends ? c.count : c.count + 3, 20000));
        if (c.ends) {
            // The thread ends by itself; the stop only reaps it.
            for (int i = 0; i < 2000 && can_agc_thread_exists; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(bool(can_agc_thread_exists), !c.ends);
        EXPECT_EQ(can_agc_active_value(), c.ends ? 0 : 2);
        EXPECT_EQ(can_agc_stop(&si_), 0);
        std::string text = out_.text(), failures;
        for (size_t at = 0; (at = text.find("can_agc_thread_func", at)) != std::string::npos; at = text.find('\n', at))
            failures += text.substr(at, text.find('\n', at) + 1 - at);
        std::string expected;
        for (int64_t i = 0; i < c.count; ++i)
            expected += c.message;
        EXPECT_EQ(failures, expected);
        EXPECT_EQ(level_writes().size(), 0u);
        sim().reset_log();
    }
}

// A grab that never returns keeps the thread from its stop: the stop gives up after
// 5000 ms, and no second thread starts while the first one lives.
TEST_F(AgcControl, StopGivesUpAfterFiveSecondsOnAGrabThatNeverReturns) {
    auto& camera = use_camera({}, on_target_raw);
    camera.block_grabs();
    ASSERT_EQ(can_agc_start(&si_, 1), 0);
    ASSERT_TRUE(camera.wait_blocked(20000));
    out_.clear();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(can_agc_stop_thread(), ERR_INTERNAL_HX);
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before).count();
    EXPECT_GE(waited, 4900);
    EXPECT_LT(waited, 15000);
    EXPECT_EQ(out_.text(), stamp_at(0) + "can_agc_stop_thread: failed to stop thread within 5 sec\n");
    EXPECT_TRUE(can_agc_thread_exists);

    out_.clear();
    EXPECT_EQ(can_agc_start(&si_, 2), ERR_INTERNAL_HX);
    EXPECT_EQ(out_.text(), stamp_at(0) + "can_agc_start_thread: Failed to create AGC thread\n");
    EXPECT_EQ(can_agc_active_value(), 0);

    // Once the grab returns the thread sees its stop and ends; a new one can start.
    camera.release_grabs();
    for (int i = 0; i < 2000 && can_agc_thread_exists; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(can_agc_thread_exists);
    EXPECT_EQ(level_reads(), 1);
    EXPECT_EQ(can_agc_start_thread(&si_), 0);
    EXPECT_TRUE(camera.wait_frames(2, 20000));
    EXPECT_EQ(can_agc_stop_thread(), 0);
}

TEST_F(AgcControl, ThreadWithoutStopEventOrCameraEndsAtOnce) {
    can_agc_shutdown();
    EXPECT_EQ(can_agc_start_thread(&si_), 0);
    EXPECT_EQ(can_agc_stop_thread(), 0);
    EXPECT_EQ(out_.text(), stamp_at(0) + "can_agc_thread_func: can_agc_stop_event = NULL\n");
    EXPECT_FALSE(can_agc_thread_exists);

    ASSERT_EQ(can_agc_init(), 0);
    out_.clear();
    ASSERT_EQ(can_agc_start(&si_, 1), 0);
    EXPECT_EQ(can_agc_stop_thread(), 0);
    EXPECT_EQ(out_.text(), stamp_at(0) + "can_agc_thread_func: No frame source\n");
    EXPECT_EQ(can_agc_active_value(), 0);
}

}  // namespace
}  // namespace mf::test

namespace mf::test {
namespace {

// After a level write the thread waits for the wheel: on its stopped event, checked
// every 10 ms with the CAN events processed, for at most 300 steps; 1300 ms when the
// event does not exist; 250 ms without an ND wheel.
TEST_F(AgcControl, SettlingWaitAfterALevelWrite) {
    struct {
        const char* name;
        bool event, wheel;
        int64_t turn_ms;
        int64_t settle_ms;
        const char* message;
    } const cases[] = {
        {"wheel stops", true, true, 150, 150, ""},
        {"wheel turns long", true, true, 1995, 2000, ""},
        {"no stopped event", false, true, 150, 1300, ""},
        {"no wheel", true, false, 150, 250, ""},
        {"wheel never stops", true, true, 100000, 3000, "can_agc_thread_func: Error waiting for LLC: ERR_HW_FAIL\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.event) platform::event_close(stopped_);
        state().required.focus_ndw = c.wheel;
        sim().set_ndw_level_time(c.turn_ms);
        auto& camera = use_camera({}, 0);  // dark: the first frame asks for a write
        out_.clear();
        ASSERT_EQ(can_agc_start_thread(&si_), 0);
        ASSERT_TRUE(camera.wait_frames(2, 20000));
        EXPECT_EQ(can_agc_stop_thread(), 0);
        const auto frames = camera.frames();
        // Frame 1, the write, the wait, then a grab of one frame time (40 ms).
        EXPECT_EQ(frames[1].time_ms - frames[0].time_ms - 40, c.settle_ms);
        EXPECT_FALSE(level_writes().empty());
        // The first message (after its time stamp), if any.
        const std::string text = out_.text();
        EXPECT_EQ(text.empty() ? "" : text.substr(20, text.find('\n') - 19), c.message);
        if (!c.event) stopped_ = platform::event_create(CAN_NDWHEEL_STOPPED_NAME, true, true);
        sim().reset_log();
    }
}

}  // namespace
}  // namespace mf::test
