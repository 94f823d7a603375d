// SDO access to the nodes' object dictionaries, the library-status mapping, and the
// guards node operations run before any access. Stateless; any thread may call.
#pragma once

#include <cstdint>

#include "calfile/sysinfo.h"
#include "platform/events.h"

namespace mf {

// Library status to error code: 1 -> 0, -1..-6 -> ERR_CAN_ERROR, ERR_CAN_NOT_CONNECTED,
// ERR_CAN_TIMEOUT, ERR_CAN_TCP_TRANSMISSION_ERROR, ERR_CAN_BUFFER_TOO_SMALL,
// ERR_CAN_NO_PDO; anything else (0 included) -> ERR_UNKNOWN.
int32_t can_status_error(int32_t status);

// Reads size bytes of object index/subindex of a node into data. Returns 0, abort_err
// when the node refuses (abort code printed), or the mapped library status. A set
// activity flag signals the sleep-mode reset event, whatever the outcome.
int32_t can_sdo_read2(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size, bool activity,
                      int32_t abort_err, const char* caller);
// The same for a write of size bytes from data; its messages carry a time stamp.
int32_t can_sdo_write2(uint8_t node, uint16_t index, uint8_t subindex, const void* data, uint32_t size, bool activity,
                       int32_t abort_err, const char* caller);

// The sleep-mode thread hands its manual-reset event here (null when it ends); the
// caller keeps ownership and must not close it while SDO traffic may run.
void can_set_sleep_reset_event(platform::event_handle e);
platform::event_handle can_sleep_reset_event();

// Guard 1: 0 for a CAN instrument, else not_can (ERR_WRONG_INSTR_BOARD for instrument
// operations, ERR_INVALID_PARAM for the generic motor-driver operations).
int32_t can_guard_board(const sysInfo* si, int32_t not_can);
// Guard 2 for the ring/spot (68), zoom (70) and focus/ND wheel (64) nodes: 0 when the
// node is present, else its time-stamped "not available" message with the operation's
// name and ERR_CAN_NODE_NOT_AVAIL. Other nodes: ERR_INVALID_PARAM.
int32_t can_guard_node(const sysInfo* si, uint8_t node, const char* op);
// Guard 2 for the PZT ramp operations: picks the node by rampMux (0 triple PZT with
// ERR_CAN_SDO_PZT_ERROR, 1 large aperture with ERR_CAN_SDO_LAP_ERROR). An absent node
// gives ERR_CAN_NODE_NOT_AVAIL, another rampMux ERR_INVALID_PARAM, both with a message.
int32_t can_guard_pzt(const sysInfo* si, uint8_t* node, int32_t* abort_err);

}  // namespace mf
