#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "calfile/sysinfo.h"
#include "can/can_events.h"
#include "common/error_codes.h"
#include "devctl/motion.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "tests/support/capture.h"

namespace mf {
namespace {

// The system error number in the loader's messages differs between systems.
std::string without_error_numbers(const std::string& text) {
    return std::regex_replace(text, std::regex("Error: -?[0-9]+ in loading"), "Error: N in loading");
}

std::string file_of(const char* base) { return platform::dynlib_file_name(base); }

// Which slots a binding left filled, by rule.
struct slot_state {
    const char* name;
    mwi_rule rule;
    bool bound;
};
std::vector<slot_state> slots() {
    return {
#define MF_SLOT_STATE(name, rule, result, params) {#name, mwi_rule::rule, gl_mwi.name != nullptr},
        MF_MWI_ENTRY_POINTS(MF_SLOT_STATE)
#undef MF_SLOT_STATE
    };
}

int bound_count() {
    int n = 0;
    for (const slot_state& s : slots())
        n += s.bound;
    return n;
}

template <typename Fn>
Fn sim_fn(const char* name) {
    void* p = platform::dynlib_symbol(gl_mwi.module, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<Fn>(p);
}

int sim_calls(const char* entry) { return sim_fn<int (*)(const char*)>("MotionSim_CallCount")(entry); }

// True when the library named by base is not resident: a fresh load sees the
// state it had before anyone touched it.
bool library_unloaded_after(const char* base, void (*bind)()) {
    platform::dynlib_handle own = platform::dynlib_load(base);
    if (!own) return false;
    auto set_status = reinterpret_cast<void (*)(int32_t)>(platform::dynlib_symbol(own, "MotionSim_SetOpenStatus"));
    auto move = reinterpret_cast<mwi_fn::Move_MWI>(platform::dynlib_symbol(own, "Move_MWI"));
    move(1, 0, 0);
    set_status(5);
    bind();
    platform::dynlib_free(own);
    // If the binding kept its reference, the library (and its call count) survives.
    platform::dynlib_handle again = platform::dynlib_load(base);
    auto calls = reinterpret_cast<int (*)(const char*)>(platform::dynlib_symbol(again, "MotionSim_CallCount"));
    bool fresh = calls("Move_MWI") == 0;
    platform::dynlib_free(again);
    return fresh;
}

class MotionBinding : public ::testing::Test {
protected:
    void TearDown() override {
        if (gl_mwi.module) sim_fn<void (*)()>("MotionSim_Reset")();
        mc_unbind_motion_library();
        mc_set_motion_library_name(nullptr);
    }
    int32_t bind(const char* base) {
        mc_set_motion_library_name(base);
        return mc_bind_motion_library();
    }
    test::SinkCapture sink;
};

TEST_F(MotionBinding, CompleteLibraryBindsByItsRealNameSilently) {
    EXPECT_STREQ(mc_motion_library_name(), "MotionWrapperInterface");
    ASSERT_EQ(mc_bind_motion_library(), 0);
    EXPECT_EQ(sink.text(), "");
    EXPECT_NE(gl_mwi.module, nullptr);
    for (const slot_state& s : slots())
        EXPECT_EQ(s.bound, s.rule != mwi_rule::position_b) << s.name;
    EXPECT_EQ(bound_count(), 55);
}

TEST_F(MotionBinding, PositionPairInsteadOfGetPosition) {
    ASSERT_EQ(bind("MotionSimPair"), 0);
    EXPECT_EQ(sink.text(), "");
    EXPECT_EQ(gl_mwi.GetPosition_MWI, nullptr);
    EXPECT_NE(gl_mwi.GetActualPosition_MWI, nullptr);
    EXPECT_NE(gl_mwi.GetCommandedPosition_MWI, nullptr);
    EXPECT_EQ(bound_count(), 56);
}

TEST_F(MotionBinding, AllThreePositionEntryPointsAreRefusedAndTheLibraryFreed) {
    EXPECT_TRUE(library_unloaded_after("MotionSimThree", [] {
        mc_set_motion_library_name("MotionSimThree");
        EXPECT_EQ(mc_bind_motion_library(), ERR_MPX_FUNCTION_MAP);
    }));
    EXPECT_EQ(sink.text(),
              "Error: missing GetPosition_MWI or (GetActualPosition_MWI and GetCommandedPosition_MWI) "
              "functions from " +
                  file_of("MotionSimThree") + ".\n");
    EXPECT_EQ(gl_mwi.module, nullptr);
    EXPECT_EQ(bound_count(), 0);
}

TEST_F(MotionBinding, NoPositionEntryPointAtAllIsRefused) {
    EXPECT_EQ(bind("MotionSimNoPosition"), ERR_MPX_FUNCTION_MAP);
    EXPECT_EQ(sink.text(),
              "Error: missing GetPosition_MWI or (GetActualPosition_MWI and GetCommandedPosition_MWI) "
              "functions from " +
                  file_of("MotionSimNoPosition") + ".\n");
    EXPECT_EQ(gl_mwi.module, nullptr);
    EXPECT_EQ(bound_count(), 0);
}

TEST_F(MotionBinding, EveryMissingRequiredEntryPointIsNamedAndNothingIsBound) {
    EXPECT_TRUE(library_unloaded_after("MotionSimMissingTwo", [] {
        mc_set_motion_library_name("MotionSimMissingTwo");
        EXPECT_EQ(mc_bind_motion_library(), ERR_MPX_FUNCTION_MAP);
    }));
    const std::string lib = file_of("MotionSimMissingTwo");
    EXPECT_EQ(without_error_numbers(sink.text()), "Error: N in loading FindHome_MWI from " + lib +
                                                      ".\nError: N in loading StopAxis_MWI from " + lib + ".\n");
    EXPECT_EQ(gl_mwi.module, nullptr);
    EXPECT_EQ(bound_count(), 0);
}

TEST_F(MotionBinding, MissingLibrary) {
    EXPECT_EQ(bind("MotionSimAbsent"), ERR_MPX_NO_DLL);
    EXPECT_EQ(without_error_numbers(sink.text()),
              "Error: N in loading Ostrabel 10 Motion library " + file_of("MotionSimAbsent") + ".\n");
    EXPECT_EQ(bound_count(), 0);
}

TEST_F(MotionBinding, IncompleteCanPairWarnsAndEmptiesBoth) {
    ASSERT_EQ(bind("MotionSimCanHalf"), 0);
    EXPECT_EQ(sink.text(),
              "Warning: Motion DLL does not support CAN event notification pass-through.\n"
              "         Ostrabel may not behave as expected if CAN events are used.\n");
    EXPECT_EQ(gl_mwi.RegisterCanEvents_MWI, nullptr);
    EXPECT_EQ(gl_mwi.UnregisterCanEvents_MWI, nullptr);
    EXPECT_EQ(bound_count(), 53);
}

TEST_F(MotionBinding, IncompleteClosedLoopGroupEmptiesAllThirteen) {
    ASSERT_EQ(bind("MotionSimNoLoop"), 0);
    EXPECT_EQ(sink.text(),
              "Info: Motion DLL does not support axis with external closed loop or DMI position instrument\n");
    for (const slot_state& s : slots())
        if (s.rule == mwi_rule::closed_loop) {
            EXPECT_FALSE(s.bound) << s.name;
        }
    EXPECT_EQ(bound_count(), 55 - 13);
}

TEST_F(MotionBinding, MissingConfigurationFileEntryPointIsOnlyInformation) {
    ASSERT_EQ(bind("MotionSimNoConfig"), 0);
    EXPECT_EQ(sink.text(), "Info: Motion DLL does not support getting the effective motion configuration file\n");
    EXPECT_EQ(gl_mwi.GetConfigurationFile_MWI, nullptr);
    EXPECT_NE(gl_mwi.SetAlignViewIndicator_MWI, nullptr);
}

TEST_F(MotionBinding, FailedRebindEmptiesAPreviousBinding) {
    ASSERT_EQ(bind("MotionWrapperInterface"), 0);
    EXPECT_EQ(bind("MotionSimMissingTwo"), ERR_MPX_FUNCTION_MAP);
    EXPECT_EQ(gl_mwi.module, nullptr);
    EXPECT_EQ(bound_count(), 0);
}

TEST(MotionStatus, MapsEveryDocumentedStatus) {
    const std::pair<int32_t, int32_t> map[] = {
        {0, 0},
        {12, ERR_MC_AXIS_BUSY},
        {17, ERR_MC_NO_HOME},
        {18, ERR_MC_AXIS_AT_LIMIT},
        {19, ERR_MC_AXIS_AT_LIMIT},
        {21, ERR_MC_KILL_SWITCH},
        {22, ERR_MC_JOYSTICK_ENABLE},
        {256, ERR_MC_COMM},
        {275, ERR_MC_COMM},
        {267, ERR_MC_AXIS_INACTIVE},
        {268, ERR_MC_CONFIG},
        {269, ERR_MC_CONFIG},
        {270, ERR_MC_CONFIG},
        {271, ERR_MC_NEEDS_RESET},
        {274, ERR_MC_NEEDS_RESET},
        {276, ERR_CAN_NODE_NOT_AVAIL},
        {277, ERR_MC_CONFIRM_INIT},
        {278, ERR_MC_CONFIG_MISSING},
        {279, ERR_MC_CONFIG_CORRUPT},
        {1, ERR_MC_MISC},
        {-1, ERR_MC_MISC},
        {20, ERR_MC_MISC},
        {272, ERR_MC_MISC},
        {273, ERR_MC_MISC},
        {280, ERR_MC_MISC},
    };
    for (auto [status, err] : map)
        EXPECT_EQ(mc_mpx_error(status), err) << status;
}

class MotionOpen : public MotionBinding {
protected:
    void SetUp() override {
        platform::set_clock(&clock);
        mc_controller_init(&mc, 3, "Stage");
        mc.instrument = &info;
        mc.open_flag = 1;
    }
    void TearDown() override {
        MotionBinding::TearDown();
        platform::set_clock(nullptr);
    }
    platform::VirtualClock clock;
    mc_controller mc{};
    sysInfo info{};
};

TEST_F(MotionOpen, OtherReportModesAreRefusedWithoutBinding) {
    mc.report_mode = 2;
    EXPECT_EQ(mc_open_comm_mpx(&mc), ERR_MC_WRONG_MC);
    EXPECT_EQ(mc_close_comm_mpx(&mc), ERR_MC_WRONG_MC);
    EXPECT_EQ(gl_mwi.module, nullptr);
}

TEST_F(MotionOpen, BindingErrorIsTheOpensResult) {
    mc_set_motion_library_name("MotionSimMissingTwo");
    EXPECT_EQ(mc_open_comm_mpx(&mc), ERR_MPX_FUNCTION_MAP);
    EXPECT_EQ(mc.handle, MWI_INVALID_HANDLE);
}

TEST_F(MotionOpen, OpensPassesItsArgumentsAndRegistersForCanEvents) {
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);
    EXPECT_EQ(mc.handle, 0x5157);
    EXPECT_EQ(sink.text(), "  Effective motion config file: motion_sim.cfg\n");
    char name[64];
    void* info_seen = nullptr;
    uint8_t flag = 0;
    int32_t fifth = 0;
    sim_fn<void (*)(char*, void**, uint8_t*, int32_t*)>("MotionSim_LastOpen")(name, &info_seen, &flag, &fifth);
    EXPECT_STREQ(name, "Stage");
    EXPECT_EQ(info_seen, &info);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(fifth, 1);
    EXPECT_EQ(sim_calls("InitMotionWrapperInterface_MWI"), 1);
    EXPECT_EQ(sim_calls("RegisterCanEvents_MWI"), 1);

    sink.clear();
    ASSERT_EQ(mc_close_comm_mpx(&mc), 0);
    EXPECT_EQ(mc.handle, MWI_INVALID_HANDLE);
    EXPECT_EQ(sim_calls("UnregisterCanEvents_MWI"), 1);
    EXPECT_EQ(sim_calls("CloseComm_MWI"), 1);
    EXPECT_EQ(sim_calls("CloseMotionWrapperInterface_MWI"), 1);
    EXPECT_EQ(sink.text(), "");
    // Closing a closed controller calls nothing.
    EXPECT_EQ(mc_close_comm_mpx(&mc), 0);
    EXPECT_EQ(sim_calls("CloseComm_MWI"), 1);
}

TEST_F(MotionOpen, RequestingThreadPollsTheOpenOncePerSecond) {
    ASSERT_EQ(mc_bind_motion_library(), 0);
    sim_fn<void (*)(int32_t)>("MotionSim_SetOpenDelay")(60);
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);
    EXPECT_EQ(mc.handle, 0x5157);
    ASSERT_GE(clock.sleep_count(), 1);
    EXPECT_EQ(clock.slept_ms(), 1000 * static_cast<int64_t>(clock.sleep_count()));
}

TEST_F(MotionOpen, AnOpenControllerIsClosedBeforeItIsOpenedAgain) {
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);
    EXPECT_EQ(sim_calls("CloseComm_MWI"), 1);
    EXPECT_EQ(sim_calls("OpenComm_MWI"), 2);
    EXPECT_EQ(sim_calls("UnregisterCanEvents_MWI"), 1);
    EXPECT_EQ(sim_calls("RegisterCanEvents_MWI"), 2);
    EXPECT_EQ(mc.handle, 0x5157);
}

TEST_F(MotionOpen, OpenFailuresAreMappedAndExplained) {
    const std::pair<int32_t, int32_t> cases[] = {
        {279, ERR_MC_CONFIG_CORRUPT},
        {278, ERR_MC_CONFIG_MISSING},
        {277, ERR_MC_CONFIRM_INIT},
        {21, ERR_MC_KILL_SWITCH_DURING_INIT},
        {12, ERR_MC_COMM},
        {999, ERR_MC_COMM},
    };
    for (auto [status, result] : cases) {
        mc_set_motion_library_name(nullptr);
        ASSERT_EQ(mc_bind_motion_library(), 0);
        sim_fn<void (*)(int32_t)>("MotionSim_SetOpenStatus")(status);
        sim_fn<void (*)(const char*)>("MotionSim_SetErrorText")("axis 2 did not answer");
        sink.clear();
        EXPECT_EQ(mc_open_comm_mpx(&mc), result) << status;
        EXPECT_EQ(mc.handle, MWI_INVALID_HANDLE);
        EXPECT_EQ(sink.text(), "mc_open_comm_mpx() error opening Stage err=" + std::to_string(mc_mpx_error(status)) +
                                   "\nmc_open_comm_mpx() error message\naxis 2 did not answer\n")
            << status;
        EXPECT_EQ(sim_calls("RegisterCanEvents_MWI"), 0);
    }
}

TEST_F(MotionOpen, FailedOpenOfACanInstrumentHandsCanReceptionBack) {
    mc.can_instrument = 1;
    ASSERT_EQ(mc_bind_motion_library(), 0);
    sim_fn<void (*)(int32_t)>("MotionSim_SetOpenStatus")(256);
    sink.clear();
    EXPECT_EQ(mc_open_comm_mpx(&mc), ERR_MC_COMM);
    // No CAN interface library is connected here, so the registration fails.
    const std::string text = sink.text();
    EXPECT_NE(text.find("mc_open_comm_mpx() error message\n\ncan_register_events canErr = "), std::string::npos)
        << text;
    const std::string last = "\nError registering for OSB processing of CAN events\n";
    ASSERT_GT(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST_F(MotionOpen, RegistrationRefusalIsReported) {
    ASSERT_EQ(mc_bind_motion_library(), 0);
    sim_fn<void (*)(int32_t)>("MotionSim_SetRegisterResult")(0);
    sim_fn<void (*)(const char*)>("MotionSim_SetErrorText")("no CAN");
    sink.clear();
    EXPECT_EQ(mc_open_comm_mpx(&mc), 0);
    EXPECT_EQ(sink.text(),
              "  Effective motion config file: motion_sim.cfg\n"
              "mc_open_comm_mpx() failed to register for PDO and EMCY events\nno CAN\n");
}

TEST_F(MotionOpen, CloseReportsAnUnregisterErrorText) {
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);
    sim_fn<void (*)(const char*)>("MotionSim_SetErrorText")("still busy");
    sink.clear();
    EXPECT_EQ(mc_close_comm_mpx(&mc), 0);
    EXPECT_EQ(sink.text(), "mc_close_comm_mpx() error unregistering PDO and EMCY events\nstill busy\n");
}

TEST_F(MotionOpen, WithoutConfigurationFileEntryPointTheOpenSaysUnknown) {
    mc_set_motion_library_name("MotionSimNoConfig");
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);
    EXPECT_EQ(sink.text(),
              "Info: Motion DLL does not support getting the effective motion configuration file\n"
              "  Effective motion config file: Unknown - Look in SystemInfo.config\n");
}

TEST_F(MotionOpen, IncompleteCanPairIsNeverCalled) {
    mc_set_motion_library_name("MotionSimCanHalf");
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);
    ASSERT_EQ(mc_close_comm_mpx(&mc), 0);
    EXPECT_EQ(sim_calls("RegisterCanEvents_MWI"), 0);
    EXPECT_EQ(sim_calls("CloseComm_MWI"), 1);
}

TEST_F(MotionOpen, CanCallbacksFeedTheRawQueuesFromTheLibrarysThread) {
    ASSERT_EQ(CanCreateSyncObjects(), 0);
    can_clear_event_queues();
    ASSERT_EQ(mc_open_comm_mpx(&mc), 0);

    using send_fn = int32_t (*)(uint32_t, uint32_t, const uint8_t*, uint32_t, uint32_t, uint8_t, const uint8_t*);
    const uint8_t data[8] = {1, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11};
    const uint8_t manufacturer[5] = {9, 8, 7, 6, 5};
    // Wand 1 (node 72), transmit PDO 1, button 1: one CAN event for system type 23.
    ASSERT_EQ(sim_fn<send_fn>("MotionSim_SendCan")(0x1C8, 8, data, 0x8A, 0x8130, 0x11, manufacturer), 1);
    EXPECT_EQ(can_pdo_queue_length(), 1u);
    EXPECT_EQ(can_emcy_queue_length(), 1u);

    info.sysType = 23;
    info.boardType = BOARD_CAN;
    ASSERT_TRUE(can_process_events(&info));
    can_host_record first{}, second{};
    ASSERT_TRUE(can_take_event(&first));
    ASSERT_TRUE(can_take_event(&second));
    const can_host_record& emcy = first.queue == 2 ? first : second;
    const can_host_record& pdo = first.queue == 1 ? first : second;
    ASSERT_EQ(emcy.queue, 2);
    ASSERT_EQ(pdo.queue, 1);
    EXPECT_EQ(pdo.event.code, CAN_EVENT_WAND_BUTTON1);
    EXPECT_EQ(pdo.event.pdo.cob_id, 0x1C8u);
    EXPECT_EQ(pdo.event.pdo.word2, 8u);
    EXPECT_EQ(std::memcmp(pdo.event.pdo.data, data, 8), 0);
    EXPECT_EQ(emcy.emcy.emcy.first, 0x8Au);
    EXPECT_EQ(emcy.emcy.emcy.second, 8u);
    const uint8_t block[12] = {0x30, 0x81, 0, 0, 0x11, 9, 8, 7, 6, 5, 0, 0};
    EXPECT_EQ(std::memcmp(emcy.emcy.emcy.block, block, 12), 0);
    EXPECT_EQ(emcy.emcy.emcy.flag, 0u);

    ASSERT_EQ(mc_close_comm_mpx(&mc), 0);
    EXPECT_EQ(sim_fn<send_fn>("MotionSim_SendCan")(0x1C8, 8, data, 0x8A, 0, 0, manufacturer), 0);
    can_clear_event_queues();
    can_events_free_resources();
}

}  // namespace
}  // namespace mf
