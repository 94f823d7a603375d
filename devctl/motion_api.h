// The motion wrapper library's entry points: one list, in the order the binding
// resolves them, with the rule that governs each and its C signature. The binding
// table, the resolver and the test libraries are all expanded from this list, so
// order, rules and slots cannot drift apart.
#pragma once

#include <cstdint>

namespace mf {

// The controller handle the library hands out; MWI_INVALID_HANDLE means "not open".
using mwi_handle = std::intptr_t;
inline constexpr mwi_handle MWI_INVALID_HANDLE = -1;

// CAN pass-through callbacks, called on the library's own threads.
// PDO: COB-ID, data length, the 8 data bytes.
using mwi_pdo_callback = void (*)(uint32_t cob_id, uint32_t length, const uint8_t* data);
// Emergency: the two leading words of the message (COB-ID and the library's own
// word), the emergency error code, the error register and the five
// manufacturer-specific bytes.
using mwi_emcy_callback = void (*)(uint32_t first, uint32_t second, uint32_t error_code, uint8_t error_register,
                                   const uint8_t* manufacturer);

enum class mwi_rule {
    required,
    position_a,   // GetPosition_MWI alone ...
    position_b,   // ... or the actual/commanded pair instead
    can_pair,     // both or neither
    closed_loop,  // all thirteen or none
    optional,
};

// X(name, rule, result type, parameter list)
#define MF_MWI_ENTRY_POINTS(X)                                                                                 \
    X(CheckForEStopEvent_MWI, required, int32_t, (mf::mwi_handle))                                             \
    X(CloseComm_MWI, required, int32_t, (mf::mwi_handle))                                                      \
    X(CloseMotionWrapperInterface_MWI, required, void, ())                                                     \
    X(DisableAxisJoystick_MWI, required, int32_t, (mf::mwi_handle, uint16_t))                                  \
    X(DisableJoystick_MWI, required, int32_t, (mf::mwi_handle))                                                \
    X(DisablePositionReports_MWI, required, int32_t, (mf::mwi_handle))                                         \
    X(EnableAxisJoystick_MWI, required, int32_t, (mf::mwi_handle, uint16_t))                                   \
    X(EnableJoystick_MWI, required, int32_t, (mf::mwi_handle))                                                 \
    X(EnablePositionReports_MWI, required, int32_t, (mf::mwi_handle))                                          \
    X(FindHome_MWI, required, int32_t, (mf::mwi_handle, uint16_t))                                             \
    X(GetAcceleration_MWI, required, int32_t, (mf::mwi_handle, uint16_t, double*))                             \
    X(GetAxisError_MWI, required, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                               \
    X(GetAxisStatus_MWI, required, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                              \
    X(GetError_MWI, required, int32_t, (mf::mwi_handle, int32_t*))                                             \
    X(GetErrorString_MWI, required, const char*, (mf::mwi_handle))                                             \
    X(GetEvent_MWI, required, int32_t, (mf::mwi_handle, int32_t*))                                             \
    X(GetHomeState_MWI, required, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                               \
    X(GetHomeType_MWI, required, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                                \
    X(GetIsJoystickEnabled_MWI, required, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                       \
    X(GetLabel_MWI, required, int32_t, (mf::mwi_handle, uint16_t, const char**))                               \
    X(GetNodeId_MWI, required, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                                  \
    X(GetPitch_MWI, required, int32_t, (mf::mwi_handle, uint16_t, double*))                                    \
    X(GetPosition_MWI, position_a, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                              \
    X(GetStatus_MWI, required, int32_t, (mf::mwi_handle, int32_t*))                                            \
    X(GetTravelMax_MWI, required, int32_t, (mf::mwi_handle, uint16_t, double*))                                \
    X(GetTravelMin_MWI, required, int32_t, (mf::mwi_handle, uint16_t, double*))                                \
    X(GetTravelZero_MWI, required, int32_t, (mf::mwi_handle, uint16_t, double*))                               \
    X(GetVelocity_MWI, required, int32_t, (mf::mwi_handle, uint16_t, double*))                                 \
    X(HasEvent_MWI, required, int32_t, (mf::mwi_handle))                                                       \
    X(InitMotionWrapperInterface_MWI, required, void, ())                                                      \
    X(Move_MWI, required, int32_t, (mf::mwi_handle, uint16_t, int32_t))                                        \
    X(OpenComm_MWI, required, int32_t, (const char*, void*, mf::mwi_handle*, uint8_t, int32_t))                \
    X(SetAcceleration_MWI, required, int32_t, (mf::mwi_handle, uint16_t, double))                              \
    X(SetMoveMode_MWI, required, int32_t, (mf::mwi_handle, uint16_t, int32_t))                                 \
    X(SetPositionReport_MWI, required, int32_t, (mf::mwi_handle, uint16_t, uint8_t))                           \
    X(SetVelocity_MWI, required, int32_t, (mf::mwi_handle, uint16_t, double))                                  \
    X(Stop_MWI, required, int32_t, (mf::mwi_handle))                                                           \
    X(StopAxis_MWI, required, int32_t, (mf::mwi_handle, uint16_t))                                             \
    X(GetActualPosition_MWI, position_b, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                        \
    X(GetCommandedPosition_MWI, position_b, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                     \
    X(RegisterCanEvents_MWI, can_pair, int32_t, (mf::mwi_handle, mf::mwi_pdo_callback, mf::mwi_emcy_callback)) \
    X(UnregisterCanEvents_MWI, can_pair, int32_t, (mf::mwi_handle))                                            \
    X(DmiReset_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t))                                          \
    X(GetDmiCaptureBufferSize_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                 \
    X(GetDmiCaptureBuffer_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, double*, int32_t))             \
    X(GetDmiPosition_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, double*))                           \
    X(GetDmiPreset_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, double*))                             \
    X(GetDmiStatus_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                            \
    X(GetExternalClosedLoopAmplifierFault_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, int32_t*))     \
    X(GetExternalClosedLoopEnabled_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, int32_t*))            \
    X(GetIsDmiBufferReady_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, int32_t*))                     \
    X(GetSupportsExternalClosedLoop_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, int32_t*))           \
    X(SetDmiCaptureTrigger_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, int32_t))                     \
    X(SetDmiPreset_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, double))                              \
    X(SetExternalClosedLoopEnabled_MWI, closed_loop, int32_t, (mf::mwi_handle, uint16_t, int32_t))             \
    X(SetAlignViewIndicator_MWI, optional, int32_t, (mf::mwi_handle, int32_t))                                 \
    X(GetConfigurationFile_MWI, optional, const char*, (mf::mwi_handle))

// Function pointer types: mwi_fn::Move_MWI and so on.
namespace mwi_fn {
#define MF_MWI_FN_TYPE(name, rule, result, params) using name = result(*) params;
MF_MWI_ENTRY_POINTS(MF_MWI_FN_TYPE)
#undef MF_MWI_FN_TYPE
}  // namespace mwi_fn

}  // namespace mf
