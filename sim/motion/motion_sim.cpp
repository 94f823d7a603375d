// A test motion wrapper library. One source, built in several variants that each
// export a chosen set of the _MWI entry points (see CMakeLists.txt), so the binding
// rules are exercised against real shared libraries loaded by name.
//
// Besides the entry points it exports a small control interface (MotionSim_*) that
// tests reach through the loaded module: call counts, the status OpenComm_MWI
// returns, an event source for HasEvent_MWI and CAN messages delivered from the
// library's own thread through the registered callbacks.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devctl/motion_api.h"

#ifdef _WIN32
#define MWI_EXPORT extern "C" __declspec(dllexport)
#else
#define MWI_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using mf::mwi_handle;

namespace {

constexpr mwi_handle sim_handle = 0x5157;

struct sim_state {
    std::mutex lock;
    std::map<std::string, int> calls;
    int32_t open_status = 0;
    int32_t open_delay_ms = 0;
    int32_t register_result = 1;
    std::string error_text;
    std::string config_file = "motion_sim.cfg";
    // Arguments of the last OpenComm_MWI.
    std::string open_name;
    void* open_info = nullptr;
    uint8_t open_flag = 0;
    int32_t open_fifth = 0;
    mf::mwi_pdo_callback pdo = nullptr;
    mf::mwi_emcy_callback emcy = nullptr;
    std::vector<std::thread> threads;

    ~sim_state() { join_all(); }

    void join_all() {
        std::vector<std::thread> running;
        {
            std::lock_guard<std::mutex> hold(lock);
            running.swap(threads);
        }
        for (std::thread& t : running)
            t.join();
    }
};

sim_state& sim() {
    static sim_state s;
    return s;
}

std::atomic<int32_t> event_waiting{0};

void count(const char* name) {
    std::lock_guard<std::mutex> hold(sim().lock);
    ++sim().calls[name];
}

}  // namespace

// ---- control interface ----

MWI_EXPORT int MotionSim_CallCount(const char* name) {
    std::lock_guard<std::mutex> hold(sim().lock);
    auto found = sim().calls.find(name);
    return found == sim().calls.end() ? 0 : found->second;
}

MWI_EXPORT void MotionSim_Reset() {
    sim().join_all();
    std::lock_guard<std::mutex> hold(sim().lock);
    sim().calls.clear();
    sim().open_status = 0;
    sim().open_delay_ms = 0;
    sim().register_result = 1;
    sim().error_text.clear();
    sim().open_name.clear();
    sim().open_info = nullptr;
    sim().open_flag = 0;
    sim().open_fifth = 0;
    sim().pdo = nullptr;
    sim().emcy = nullptr;
    event_waiting = 0;
}

MWI_EXPORT void MotionSim_SetOpenStatus(int32_t status) {
    std::lock_guard<std::mutex> hold(sim().lock);
    sim().open_status = status;
}

// Makes OpenComm_MWI take this long (real time), as a real controller's open does.
MWI_EXPORT void MotionSim_SetOpenDelay(int32_t ms) {
    std::lock_guard<std::mutex> hold(sim().lock);
    sim().open_delay_ms = ms;
}

MWI_EXPORT void MotionSim_SetRegisterResult(int32_t result) {
    std::lock_guard<std::mutex> hold(sim().lock);
    sim().register_result = result;
}

MWI_EXPORT void MotionSim_SetErrorText(const char* text) {
    std::lock_guard<std::mutex> hold(sim().lock);
    sim().error_text = text ? text : "";
}

// Copies the last OpenComm_MWI arguments out; name must hold 64 bytes.
MWI_EXPORT void MotionSim_LastOpen(char* name, void** info, uint8_t* flag, int32_t* fifth) {
    std::lock_guard<std::mutex> hold(sim().lock);
    std::strncpy(name, sim().open_name.c_str(), 63);
    name[63] = '\0';
    *info = sim().open_info;
    *flag = sim().open_flag;
    *fifth = sim().open_fifth;
}

MWI_EXPORT void MotionSim_SetEvent(int32_t on) { event_waiting = on; }

// Raises the event from a thread of the library after delay_ms of real time.
MWI_EXPORT void MotionSim_RaiseEventAfter(int32_t delay_ms) {
    std::lock_guard<std::mutex> hold(sim().lock);
    sim().threads.emplace_back([delay_ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        event_waiting = 1;
    });
}

// Delivers one PDO and one emergency through the registered callbacks from a
// thread of the library, and waits until it has done so. False when nothing is
// registered.
MWI_EXPORT int32_t MotionSim_SendCan(uint32_t cob_id, uint32_t length, const uint8_t* data8, uint32_t emcy_first,
                                     uint32_t emcy_code, uint8_t emcy_register, const uint8_t* manufacturer5) {
    mf::mwi_pdo_callback pdo;
    mf::mwi_emcy_callback emcy;
    {
        std::lock_guard<std::mutex> hold(sim().lock);
        pdo = sim().pdo;
        emcy = sim().emcy;
    }
    if (!pdo || !emcy) return 0;
    std::thread sender([=] {
        pdo(cob_id, length, data8);
        emcy(emcy_first, length, emcy_code, emcy_register, manufacturer5);
    });
    sender.join();
    return 1;
}

// ---- entry points ----

MWI_EXPORT int32_t CheckForEStopEvent_MWI(mwi_handle) {
    count("CheckForEStopEvent_MWI");
    return 0;
}
MWI_EXPORT int32_t CloseComm_MWI(mwi_handle) {
    count("CloseComm_MWI");
    return 0;
}
MWI_EXPORT void CloseMotionWrapperInterface_MWI() {
    count("CloseMotionWrapperInterface_MWI");
    sim().join_all();
}
MWI_EXPORT int32_t DisableAxisJoystick_MWI(mwi_handle, uint16_t) {
    count("DisableAxisJoystick_MWI");
    return 0;
}
MWI_EXPORT int32_t DisableJoystick_MWI(mwi_handle) {
    count("DisableJoystick_MWI");
    return 0;
}
MWI_EXPORT int32_t DisablePositionReports_MWI(mwi_handle) {
    count("DisablePositionReports_MWI");
    return 0;
}
MWI_EXPORT int32_t EnableAxisJoystick_MWI(mwi_handle, uint16_t) {
    count("EnableAxisJoystick_MWI");
    return 0;
}
MWI_EXPORT int32_t EnableJoystick_MWI(mwi_handle) {
    count("EnableJoystick_MWI");
    return 0;
}
MWI_EXPORT int32_t EnablePositionReports_MWI(mwi_handle) {
    count("EnablePositionReports_MWI");
    return 0;
}
#ifndef MWI_SIM_MISSING_TWO
MWI_EXPORT int32_t FindHome_MWI(mwi_handle, uint16_t) {
    count("FindHome_MWI");
    return 0;
}
#endif
MWI_EXPORT int32_t GetAcceleration_MWI(mwi_handle, uint16_t, double* v) {
    *v = 100.0;
    return 0;
}
MWI_EXPORT int32_t GetAxisError_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetAxisStatus_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetError_MWI(mwi_handle, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT const char* GetErrorString_MWI(mwi_handle) {
    count("GetErrorString_MWI");
    std::lock_guard<std::mutex> hold(sim().lock);
    // The text stays valid until the next change through the control interface.
    return sim().error_text.c_str();
}
MWI_EXPORT int32_t GetEvent_MWI(mwi_handle, int32_t* values6) {
    for (int i = 0; i < 6; ++i)
        values6[i] = i;
    event_waiting = 0;
    return 0;
}
MWI_EXPORT int32_t GetHomeState_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 1;
    return 0;
}
MWI_EXPORT int32_t GetHomeType_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetIsJoystickEnabled_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetLabel_MWI(mwi_handle, uint16_t axis, const char** label) {
    static const char* const labels[] = {"X", "Y", "Z"};
    if (axis > 2) return 1;
    *label = labels[axis];
    return 0;
}
MWI_EXPORT int32_t GetNodeId_MWI(mwi_handle, uint16_t axis, int32_t* v) {
    *v = 32 + axis;
    return 0;
}
MWI_EXPORT int32_t GetPitch_MWI(mwi_handle, uint16_t, double* v) {
    *v = 1.0;
    return 0;
}
#ifndef MWI_SIM_NO_GETPOSITION
MWI_EXPORT int32_t GetPosition_MWI(mwi_handle, uint16_t, int32_t* v) {
    count("GetPosition_MWI");
    *v = 0;
    return 0;
}
#endif
MWI_EXPORT int32_t GetStatus_MWI(mwi_handle, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetTravelMax_MWI(mwi_handle, uint16_t, double* v) {
    *v = 1000.0;
    return 0;
}
MWI_EXPORT int32_t GetTravelMin_MWI(mwi_handle, uint16_t, double* v) {
    *v = -1000.0;
    return 0;
}
MWI_EXPORT int32_t GetTravelZero_MWI(mwi_handle, uint16_t, double* v) {
    *v = 0.0;
    return 0;
}
MWI_EXPORT int32_t GetVelocity_MWI(mwi_handle, uint16_t, double* v) {
    *v = 10.0;
    return 0;
}
MWI_EXPORT int32_t HasEvent_MWI(mwi_handle h) { return h == sim_handle && event_waiting.load() != 0; }
MWI_EXPORT void InitMotionWrapperInterface_MWI() { count("InitMotionWrapperInterface_MWI"); }
MWI_EXPORT int32_t Move_MWI(mwi_handle, uint16_t, int32_t) {
    count("Move_MWI");
    return 0;
}
MWI_EXPORT int32_t OpenComm_MWI(const char* name, void* info, mwi_handle* handle, uint8_t flag, int32_t fifth) {
    count("OpenComm_MWI");
    int32_t delay_ms;
    {
        std::lock_guard<std::mutex> hold(sim().lock);
        delay_ms = sim().open_delay_ms;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    std::lock_guard<std::mutex> hold(sim().lock);
    sim().open_name = name ? name : "";
    sim().open_info = info;
    sim().open_flag = flag;
    sim().open_fifth = fifth;
    if (sim().open_status != 0) return sim().open_status;
    *handle = sim_handle;
    return 0;
}
MWI_EXPORT int32_t SetAcceleration_MWI(mwi_handle, uint16_t, double) { return 0; }
MWI_EXPORT int32_t SetMoveMode_MWI(mwi_handle, uint16_t, int32_t) { return 0; }
MWI_EXPORT int32_t SetPositionReport_MWI(mwi_handle, uint16_t, uint8_t) { return 0; }
MWI_EXPORT int32_t SetVelocity_MWI(mwi_handle, uint16_t, double) { return 0; }
MWI_EXPORT int32_t Stop_MWI(mwi_handle) { return 0; }
#ifndef MWI_SIM_MISSING_TWO
MWI_EXPORT int32_t StopAxis_MWI(mwi_handle, uint16_t) {
    count("StopAxis_MWI");
    return 0;
}
#endif

#ifdef MWI_SIM_POSITION_PAIR
MWI_EXPORT int32_t GetActualPosition_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 1;
    return 0;
}
MWI_EXPORT int32_t GetCommandedPosition_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 2;
    return 0;
}
#endif

MWI_EXPORT int32_t RegisterCanEvents_MWI(mwi_handle, mf::mwi_pdo_callback pdo, mf::mwi_emcy_callback emcy) {
    count("RegisterCanEvents_MWI");
    std::lock_guard<std::mutex> hold(sim().lock);
    if (!sim().register_result) return 0;
    sim().pdo = pdo;
    sim().emcy = emcy;
    return 1;
}
#ifndef MWI_SIM_CAN_REGISTER_ONLY
MWI_EXPORT int32_t UnregisterCanEvents_MWI(mwi_handle) {
    count("UnregisterCanEvents_MWI");
    std::lock_guard<std::mutex> hold(sim().lock);
    sim().pdo = nullptr;
    sim().emcy = nullptr;
    return 1;
}
#endif

MWI_EXPORT int32_t DmiReset_MWI(mwi_handle, uint16_t) { return 0; }
MWI_EXPORT int32_t GetDmiCaptureBufferSize_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetDmiCaptureBuffer_MWI(mwi_handle, uint16_t, double*, int32_t) { return 0; }
MWI_EXPORT int32_t GetDmiPosition_MWI(mwi_handle, uint16_t, double* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetDmiPreset_MWI(mwi_handle, uint16_t, double* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetDmiStatus_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetExternalClosedLoopAmplifierFault_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetExternalClosedLoopEnabled_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetIsDmiBufferReady_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 0;
    return 0;
}
MWI_EXPORT int32_t GetSupportsExternalClosedLoop_MWI(mwi_handle, uint16_t, int32_t* v) {
    *v = 1;
    return 0;
}
MWI_EXPORT int32_t SetDmiCaptureTrigger_MWI(mwi_handle, uint16_t, int32_t) { return 0; }
MWI_EXPORT int32_t SetDmiPreset_MWI(mwi_handle, uint16_t, double) { return 0; }
#ifndef MWI_SIM_NO_CLOSED_LOOP
MWI_EXPORT int32_t SetExternalClosedLoopEnabled_MWI(mwi_handle, uint16_t, int32_t) { return 0; }
#endif

MWI_EXPORT int32_t SetAlignViewIndicator_MWI(mwi_handle, int32_t) { return 0; }
#ifndef MWI_SIM_NO_CONFIG_FILE
MWI_EXPORT const char* GetConfigurationFile_MWI(mwi_handle) {
    count("GetConfigurationFile_MWI");
    return "motion_sim.cfg";
}
#endif
