// The procedures built on the node operations: homing the ND wheel, moving the
// ring/spot, starting the auxiliary motor, and the encoded zoom's set-up.
#include <atomic>

#include "can/can_bus.h"
#include "can/can_events.h"
#include "can/nodes/can_nodes.h"
#include "can/nodes/zoom_cal.h"
#include "common/error_codes.h"
#include "common/hooks.h"
#include "common/msg.h"
#include "platform/clock.h"

namespace mf {

namespace {

void wait_ms(int64_t ms) {
    platform::sleep_ms(ms);
    u_idle();
}

// The ND wheel's home bits (0x18) and moving bit (0x02), from a status read or from
// the PDOs can_process_events decodes.
int32_t refresh_ndw(const sysInfo* si, bool poll, uint8_t* home, uint8_t* moving) {
    if (poll) {
        uint8_t status;
        int32_t err = can_read_ndw_status(si, &status);
        if (err) return err;
        *home = status & 0x18;
        *moving = status & 0x02;
        return 0;
    }
    can_process_events(si);
    const can_pdo_decoding d = can_get_pdo_decoding();
    *home = d.ndw_home_status;
    *moving = d.ndw_moving;
    return 0;
}

}  // namespace

int32_t can_home_ndw(const sysInfo* si, bool poll, int32_t limit_ms) {
    const can_state* cs = can_state_of(si);
    if (!cs || !cs->present.focus_ndw) {
        u_msg_time("%s: CAN Focus and ND Wheel node is not available\n", "can_home_ndw");
        return ERR_CAN_NODE_NOT_AVAIL;
    }
    uint8_t home = 0x08, moving = 0;
    if (!poll) {
        // The PDOs report from here on; start from "searching" as the node does.
        can_pdo_decoding d = can_get_pdo_decoding();
        d.ndw_home_status = 0x08;
        can_set_pdo_decoding(d);
    }
    int32_t err = can_write_ndw_control(si, 3);
    if (err) return err;
    int32_t elapsed = 0;
    while ((home & 0x18) == 0x08) {
        if (elapsed >= limit_ms) {
            u_sink("%s: timeout waiting for home search, time=%d ms\n", "can_home_ndw", static_cast<int>(elapsed));
            return ERR_CAN_NDW_HOME_ERROR;
        }
        wait_ms(100);
        err = refresh_ndw(si, poll, &home, &moving);
        if (err) return err;
        elapsed += 100;
    }
    if ((home & 0x18) == 0x10) {
        u_sink("%s: llcHomeStatus=%d\n", "can_home_ndw", static_cast<int>(home & 0x18));
        return ERR_CAN_NDW_HOME_ERROR;
    }
    moving = 0x02;
    if (!poll) {
        can_pdo_decoding d = can_get_pdo_decoding();
        d.ndw_moving = 0x02;
        can_set_pdo_decoding(d);
    }
    while (elapsed < limit_ms) {
        wait_ms(100);
        err = refresh_ndw(si, poll, &home, &moving);
        if (err) return err;
        elapsed += 100;
        if (!(moving & 0x02)) return 0;
    }
    u_sink("%s: timeout waiting for move to initial position, time=%d ms\n", "can_home_ndw", static_cast<int>(elapsed));
    return ERR_CAN_NDW_HOME_ERROR;
}

int32_t can_rs_move(const sysInfo* si, int32_t target, bool wait) {
    if (target != 0 && target != 1) return ERR_INVALID_PARAM;
    if (!si || si->boardType != BOARD_CAN || !si->ringSpot) return 0;
    uint8_t position;
    int32_t err = can_read_rs_position(si, &position);
    if (err) return err;
    const int32_t now = position == 1 ? 0 : position == 2 ? 1 : -1;
    if (now == target) return 0;

    uint8_t keypress;
    err = can_read_rs_keypress_mode(si, &keypress);
    if (err) return err;
    const bool restore = keypress & 0x02;
    if (restore) err = can_write_rs_keypress_mode(si, static_cast<uint8_t>(keypress & ~0x02));

    if (!err) {
        int16_t max_current;
        err = can_read_rs_maxCurrent(si, &max_current);
        if (!err) err = can_write_rs_current(si, static_cast<int16_t>(target == 1 ? -max_current : max_current));
    }
    const can_state* cs = can_state_of(si);
    const bool polls = (si->sysType == 23 || si->sysType == 30 || si->sysType == 32) && cs && cs->present.dd_rs;
    if (!err && wait && polls) {
        err = ERR_RS_TIMEOUT;
        for (int i = 0; i < 500; ++i) {
            wait_ms(250);
            uint8_t status;
            int32_t e = can_read_rs_status(si, &status);
            if (e) {
                err = e;
                break;
            }
            if (!(status & 0x02)) {
                err = 0;
                break;
            }
        }
    }
    // The keypress mode goes back whatever happened; the first error is the one reported.
    if (restore) {
        int32_t e = can_write_rs_keypress_mode(si, keypress);
        if (!err) err = e;
    }
    return err;
}

int32_t can_aux_motor_start(const sysInfo* si, int32_t direction) {
    int32_t err = can_write_aux_current(si, static_cast<int16_t>(direction == 1 ? 500 : -500));
    if (err) return err;
    for (int i = 0; i < 21; ++i) {
        wait_ms(250);
        uint8_t status;
        err = can_read_aux_status(si, &status);
        if (err) return err;
        if (!(status & 0x02)) return 0;
    }
    return ERR_AV_TIMEOUT;
}

int32_t tarn_enc_zoom_set_backlash(const sysInfo* si) {
    if (!si || !si->encZoom || !(si->encZoom->config & 1)) return 0;
    int32_t major, minor;
    int32_t err = can_read_version(si, CAN_NODE_ID_FOCUS_NDW, &major, &minor);
    if (err) return err;
    if (major < 4 || (major == 4 && minor < 3)) {
        u_sink("Tarn encoded zoom firmware version %d.%d is old", static_cast<int>(major), static_cast<int>(minor));
        u_sink("; version %d.%d or later is required\n", 4, 3);
        return ERR_TARN_ENC_ZOOM_FIRMWARE_VERSION_OLD;
    }
    err = tarn_enc_zoom_set_motion_mode(si);
    if (err) return err;
    err = tarn_enc_zoom_write_backlash(si, si->encZoom->backlash);
    if (err) return err;
    err = tarn_enc_zoom_load(si, nullptr);
    return err == ERR_TARN_ENC_ZOOM_CANT_OPEN_CAL_FILE ? 0 : err;
}

}  // namespace mf

namespace mf {

namespace {
std::atomic<const can_ramp_hooks*> ramp_hooks{nullptr};
}

void can_set_ramp_hooks(const can_ramp_hooks* hooks) { ramp_hooks.store(hooks); }

int32_t can_start_ramp(const sysInfo* si, int32_t index) {
    if (!si || si->boardType != BOARD_CAN) return ERR_WRONG_INSTR_BOARD;
    const can_ramp_hooks* hooks = ramp_hooks.load();
    if (!hooks || !hooks->lookup) return ERR_NO_RAMP_INFO;
    const can_state* cs = can_state_of(si);
    if (!cs) return ERR_INTERNAL_HX;
    const bool pzt = cs->required.triple_pzt || cs->required.large_ap;
    if (!pzt && !si->canInfo) return ERR_INTERNAL_HX;
    int32_t slot = 0;
    bool started_before = false;
    int32_t err = hooks->lookup(si, index, &slot, &started_before);
    if (err) return err;

    err = pzt ? can_write_pztramp_select(si, slot) : can_write_ramp_select(si, slot);
    if (err) return err;
    const can_config* cfg = si->canInfo;
    const bool pi = si->scanner.pifoc && (si->scanner.pifoc->type == 1 || si->scanner.pifoc->type == 2);
    if (pi && cfg && cfg->fw_major > 6 && cfg->fw_minor > 2 && !started_before) {
        err = hooks->hand_to_scanner ? hooks->hand_to_scanner(si, index) : ERR_NO_RAMP_INFO;
        if (err) {
            uint16_t config = 0;
            if (can_bridge_read_config(si, &config) == 0)
                can_bridge_write_config(si, static_cast<uint16_t>(config | 0x2000));
            return err;
        }
    }
    uint8_t valid = 0;
    err = pzt ? can_read_pztramp_valid(si, slot, &valid) : can_read_ramp_valid(si, slot, &valid);
    if (err) return err;
    if (valid == 0) return ERR_INVALID_RAMP_INDEX;
    uint8_t status = 0;
    err = pzt ? can_read_pztramp_status(si, &status) : can_read_ramp_status(si, &status);
    if (err) return err;
    if (status != 0) {
        u_sink("can_start_ramp/pztramp: cannot start ramp, status = %d\n", static_cast<int>(status));
        return ERR_RAMP_BUSY;
    }
    err = pzt ? can_pztramp_start(si) : can_ramp_start(si);
    if (!err && hooks->mark_started) hooks->mark_started(si, index, platform::monotonic_ms());
    return err;
}

}  // namespace mf
