// The node inventory, the bring-up of single nodes, the bridge's power status, and
// the three family sequences.
#include <algorithm>
#include <iterator>

#include "can/can_bus.h"
#include "can/can_events.h"
#include "can/llc/can_agc.h"
#include "can/nodes/can_nodes.h"
#include "can/power/can_power.h"
#include "can/power/power_internal.h"
#include "common/error_codes.h"
#include "common/errors.h"
#include "common/msg.h"
#include "platform/events.h"

namespace mf {

namespace {

const char* yes_no(bool b) { return b ? "Yes" : "No"; }

// A node the sequence needs: operational, else `err` (the present flag, when given,
// is cleared).
int32_t bring_up(const sysInfo* si, uint8_t node, int32_t err, bool* present = nullptr, uint32_t* product = nullptr) {
    uint32_t id = 0;
    if (get_operational_node(si, node, can_node_name(node), &id)) {
        if (product) *product = id;
        return 0;
    }
    if (present) *present = false;
    return err;
}

template <size_t N>
bool listed(uint32_t product, const uint32_t (&list)[N]) {
    return std::find(std::begin(list), std::end(list), product) != std::end(list);
}

// Brings up the LED node (and the dual brush motor when required), checking their
// product ids; the ids are kept in the configuration record.
int32_t light_and_motor(const sysInfo* si, can_config* cfg, can_state& cs, const char* fn) {
    uint32_t product = 0;
    int32_t err = bring_up(si, CAN_NODE_ID_LED, ERR_CAN_LED_ERROR, nullptr, &product);
    if (err) return err;
    if (!listed(product, CAN_LED_PRODUCTS)) {
        u_msg_time("%s: Invalid productID = %u for CAN_NODE_ID_LED\n", fn, static_cast<unsigned>(product));
        return ERR_CAN_INVALID_PRODUCTID;
    }
    cfg->led_product_id = static_cast<int32_t>(product);
    if (!cs.required.brush_motor) return 0;
    err = bring_up(si, CAN_NODE_ID_BRUSHMOTOR, ERR_CAN_BRMOTOR_ERROR, &cs.present.brush_motor, &product);
    if (err) return err;
    if (product != CAN_BRMOTOR_PRODUCT_D5 && product != CAN_BRMOTOR_PRODUCT_D7) {
        u_msg_time("%s: Invalid productID = %u for CAN_NODE_ID_BRUSHMOTOR\n", fn, static_cast<unsigned>(product));
        return ERR_CAN_INVALID_PRODUCTID;
    }
    cfg->brush_product_id = static_cast<int32_t>(product);
    return 0;
}

// The LED's starting state: off, the light source's PWM frequency and set-up byte,
// the default current range.
int32_t light_starting_state(const sysInfo* si) {
    can_reset_pdo_decoding();
    const int32_t source = power::host().light_source(si) == 1 ? 1 : 0;
    int32_t err = can_write_llc(si, false, 0);
    if (!err) err = can_write_llc_pwmfreq(si, si->llc.freq[source]);
    if (!err) err = can_write_led_setup(si, si->llc.config[source]);
    // Any range other than 0 and 1 is the default one (1000, 4500).
    if (!err) err = can_set_llc_range(si, -1, source);
    return err;
}

void print_profiler_inventory(const can_state& cs, bool ramp, bool led) {
    u_sink("Instrument CAN node status:\n");
    u_sink("  Ramper           : %s  \n", yes_no(ramp));
    u_sink("  LED              : %s  \n", yes_no(led));
    u_sink("  Dual Brush Motor : %s%s\n", yes_no(cs.present.brush_motor), cs.required.brush_motor ? "" : ", Ignore");
    u_sink("  Triple PZT       : %s%s\n", yes_no(cs.present.triple_pzt), cs.required.triple_pzt ? "" : ", Ignore");
}

// Control bit 0 of a diffuser disk set (the disk turns).
int32_t disk_on(const sysInfo* si, int32_t (*read)(const sysInfo*, uint8_t*),
                int32_t (*write)(const sysInfo*, uint8_t)) {
    uint8_t control = 0;
    int32_t err = read(si, &control);
    if (err || (control & 0x01)) return err;
    return write(si, static_cast<uint8_t>(control | 0x01));
}

// Keeps the node's keypress mode in the record and sets `bit` in the node.
int32_t keypress_bit(const sysInfo* si, int32_t (*read)(const sysInfo*, uint8_t*),
                     int32_t (*write)(const sysInfo*, uint8_t), uint8_t* kept, uint8_t bit) {
    uint8_t mode = 0;
    int32_t err = read(si, &mode);
    if (err) return err;
    *kept = mode;
    return write(si, static_cast<uint8_t>(mode | bit));
}

void print_tarn_inventory(const can_node_flags& p) {
    u_sink("Instrument CAN node status:\n");
    u_sink("  Triple PZT          : %s\n", yes_no(p.triple_pzt));
    u_sink("  Large Aperture      : %s\n", yes_no(p.large_ap));
    u_sink("  Primary Wand        : %s\n", yes_no(p.wand));
    u_sink("  Secondary Wand      : %s\n", yes_no(p.wand2));
    u_sink("  Zoom & Diffuser Disk: %s\n", yes_no(p.dd_zoom));
    u_sink("  RoF & Diffuser Disk : %s\n", yes_no(p.dd_rs));
    u_sink("  Focus & ND Wheel    : %s\n", yes_no(p.focus_ndw));
    u_sink("  Auxiliary Motor     : %s\n", yes_no(p.aux_motor));
}

// Required nodes the inventory lacks, in the order they are reported.
int32_t tarn_missing(const sysInfo* si, const can_state& cs) {
    struct need {
        bool can_node_flags::*flag;
        const char* text;
    };
    static constexpr need needs[] = {
        {&can_node_flags::triple_pzt, "Missing the CAN Triple PZT node\n"},
        {&can_node_flags::large_ap, "Missing the CAN Large Aperture node\n"},
        {&can_node_flags::dd_zoom, "Missing the CAN Zoom & Diffuser Disk node\n"},
        {&can_node_flags::dd_rs, "Missing the CAN Ring/Spot & Diffuser Disk node\n"},
        {&can_node_flags::focus_ndw, "Missing the CAN Focus & ND Wheel node\n"},
    };
    for (const need& n : needs) {
        if (cs.required.*n.flag && !(cs.present.*n.flag)) {
            u_msg_time("%s", n.text);
            return ERR_CAN_NODE_MISSING;
        }
    }
    if (si->sysType == SYS_ESKERCAN && !cs.present.aux_motor) {
        u_msg_time("Missing the CAN Auxiliary Motor node\n");
        return ERR_CAN_NODE_MISSING;
    }
    return 0;
}

// The zoom disk's speed: the calibration's DiffDiskRate, or one derived from the
// nominal magnification of the current zoom position.
double zoom_disk_velocity(const sysInfo* si) {
    if (si->motion.diffdiskrate != -1.0) return si->motion.diffdiskrate;
    const uint8_t position = can_get_pdo_decoding().last_zoom_position;
    if (position >= si->mag.count || position >= sb_max_mags) return 64.0;
    const double m = si->mag.nom[position];
    const double f = si->motion.diffdiskfraction;
    if (m <= 30) return m / f;
    if (m <= 75) return m * f;
    return 64.0;
}

platform::event_handle ndw_stopped = nullptr;

int32_t tarn_nodes(sysInfo* si, can_config* cfg, can_state& cs);

}  // namespace

namespace power {

int32_t diffuser_disks_off(const sysInfo* si) {
    const can_state* cs = can_state_of(si);
    if (!cs) return ERR_INVALID_PARAM;
    int32_t first = 0;
    auto off = [&](bool present, int32_t (*read)(const sysInfo*, uint8_t*), int32_t (*write)(const sysInfo*, uint8_t)) {
        if (!present) return;
        uint8_t control = 0;
        int32_t err = read(si, &control);
        if (!err) err = write(si, static_cast<uint8_t>(control & ~0x01));
        if (!first) first = err;
    };
    off(cs->present.dd_zoom, can_read_zoom_dd_control, can_write_zoom_dd_control);
    off(cs->present.dd_rs, can_read_rs_dd_control, can_write_rs_dd_control);
    return first;
}

void close_ndw_stopped_event() {
    platform::event_close(ndw_stopped);
    ndw_stopped = nullptr;
}

}  // namespace power

bool get_operational_node(const sysInfo* si, uint8_t node, const char* name, uint32_t* product) {
    if (!find_node(node, name) || !wait_for_node_operational(node, name)) return false;
    const int32_t err = can_read_productID(si, node, product);
    if (err) {
        u_msg_time("%s: Error getting node %s product ID: %s\n", "get_operational_node", name, error_name(err));
        return false;
    }
    return true;
}

int32_t can_report_bridge_status(const sysInfo* si) {
    const can_state* cs = can_state_of(si);
    if (!cs) return ERR_INVALID_PARAM;
    uint8_t status = 0;
    int32_t err = can_read_bridge_status(si, &status);
    if (err) return err;
    const char* fault = !(status & 0x08)  ? "Bridge Status: External 12V power fault\n"
                        : (status & 0x04) ? "Bridge Status: -12V power trip\n"
                        : (status & 0x02) ? "Bridge Status: +12V power trip\n"
                                          : nullptr;
    if (!fault && (cs->present.triple_pzt || cs->present.large_ap)) {
        static constexpr struct {
            uint8_t bit;
            const char* text;
        } pzt_faults[] = {
            {0x01, "Triple PZT node: Large aperture channel A fault\n"},
            {0x02, "Triple PZT node: Large aperture channel B fault\n"},
            {0x04, "Triple PZT node: Large aperture channel C fault\n"},
            {0x10, "Triple PZT node: High voltage supply under-voltage fault\n"},
            {0x20, "Triple PZT node: High voltage supply over-voltage fault\n"},
            {0x40, "Triple PZT node: VSync lost\n"},
        };
        uint8_t errchk = 0;
        if ((err = can_read_pztramp_errchk(si, &errchk))) return err;
        for (const auto& f : pzt_faults) {
            if (errchk & f.bit) {
                fault = f.text;
                break;
            }
        }
    }
    if (!fault) return 0;
    u_msg_time("%s", fault);
    return ERR_INST_POWER;
}

int32_t can_init_nv_node_availability(const sysInfo* si) {
    can_state* cs = can_state_of(si);
    if (!cs) return ERR_INVALID_PARAM;
    cs->present.brush_motor = false;
    cs->present.triple_pzt = false;
    const int32_t err = can_enumerate_nodes(si, "can_init_nv_node_availability");
    if (err) return err;
    cs->present.brush_motor = can_node_listed(si, CAN_NODE_ID_BRUSHMOTOR);
    cs->present.triple_pzt = can_node_listed(si, CAN_NODE_ID_TRIPLEPZT);
    print_profiler_inventory(*cs, can_node_listed(si, CAN_NODE_ID_RAMP), can_node_listed(si, CAN_NODE_ID_LED));
    return 0;
}

namespace {

// The profilers' opening: the node inventory, then a required dual brush motor.
int32_t profiler_inventory(const sysInfo* si, const can_state& cs) {
    if (const int32_t err = can_init_nv_node_availability(si)) return err;
    if (cs.required.brush_motor && !cs.present.brush_motor) {
        u_msg_time("Missing the CAN Dual Brush Motor node\n");
        return ERR_CAN_NODE_MISSING;
    }
    return 0;
}

}  // namespace

int32_t can_looma_loomb_on(sysInfo* si, can_config* cfg) {
    static const char* const fn = "can_looma_loomb_on";
    can_state* cs = can_state_of(si);
    if (!cs || !cfg) return ERR_INVALID_PARAM;
    int32_t err = profiler_inventory(si, *cs);
    if (err) return err;
    if ((err = bring_up(si, CAN_NODE_ID_RAMP, ERR_CAN_RAMP_ERROR))) return err;
    if (si->scanner.pifoc && (si->scanner.pifoc->type == 1 || si->scanner.pifoc->type == 2)) {
        // A select or read that fails counts as no amplitude.
        float amplitude = 0;
        if (can_write_pi_ramp_select(si, 1) || can_read_pi_ramp_amplitude(si, &amplitude)) amplitude = 0;
        bool missing = amplitude == 0;
        if (!missing && power::host().pi751_ddl_tables(si)) {
            int32_t loaded = 0;
            missing = can_pi_load_ddl_tables(si, &loaded) != 0;
            if (!missing) u_sink("Loaded %d PI 751 digital scanner DDL tables\n", static_cast<int>(loaded));
            missing = missing || loaded == 0;
        }
        if (missing) {
            u_sink("Scanner verification failed. Verify connections and configuration.\n");
            return ERR_CAN_DIGITAL_SCANNER_MISSING;
        }
    }
    if ((err = light_and_motor(si, cfg, *cs, fn))) return err;
    if ((err = light_starting_state(si))) return err;
    // The coded zoom changer tells its position only when asked; one without a zoom
    // changer configured has none to tell.
    if (cfg->brush_product_id == static_cast<int32_t>(CAN_BRMOTOR_PRODUCT_D7) && cs->motor.zoom_type != ZOOM_NONE) {
        int32_t position = 0;
        if ((err = can_read_zoom(si, &position))) return err;
    }
    return 0;
}

int32_t can_loomaP_or_loombp_on(sysInfo* si, can_config* cfg) {
    static const char* const fn = "can_loomaP_or_loombp_on";
    can_state* cs = can_state_of(si);
    if (!cs || !cfg) return ERR_INVALID_PARAM;
    int32_t err = profiler_inventory(si, *cs);
    if (err) return err;
    if (cs->required.triple_pzt && !cs->present.triple_pzt) {
        u_msg_time("Missing the CAN Triple PZT node\n");
        return ERR_CAN_NODE_MISSING;
    }
    if ((err = bring_up(si, CAN_NODE_ID_RAMP, ERR_CAN_RAMP_ERROR))) return err;
    if ((err = bring_up(si, CAN_NODE_ID_TRIPLEPZT, ERR_CAN_RAMP_ERROR))) return err;
    cs->present.triple_pzt = true;
    if ((err = light_and_motor(si, cfg, *cs, fn))) return err;
    return light_starting_state(si);
}

int32_t can_tarn_on(sysInfo* si, can_config* cfg) {
    can_state* cs = can_state_of(si);
    if (!cs || !cfg) return ERR_INVALID_PARAM;
    const int32_t err = tarn_nodes(si, cfg, *cs);
    if (err && (cs->present.dd_zoom || cs->present.dd_rs)) power::diffuser_disks_off(si);
    return err;
}

namespace {

int32_t tarn_inventory(const sysInfo* si, can_state& cs) {
    cs.present = can_node_flags{};
    const int32_t err = can_enumerate_nodes(si, "can_tarn_on");
    if (err) return err;
    can_node_flags& p = cs.present;
    p.triple_pzt = can_node_listed(si, CAN_NODE_ID_TRIPLEPZT);
    p.large_ap = can_node_listed(si, CAN_NODE_ID_LARGEAP);
    p.wand = can_node_listed(si, CAN_NODE_ID_WAND);
    p.wand2 = can_node_listed(si, CAN_NODE_ID_WAND2);
    p.dd_zoom = can_node_listed(si, CAN_NODE_ID_DD_ZOOM);
    p.dd_rs = can_node_listed(si, CAN_NODE_ID_DD_RS);
    p.focus_ndw = can_node_listed(si, CAN_NODE_ID_FOCUS_NDW);
    p.aux_motor = can_node_listed(si, CAN_NODE_ID_AUX_MOTOR);
    print_tarn_inventory(p);
    return tarn_missing(si, cs);
}

int32_t tarn_focus_ndw(sysInfo* si, can_config* cfg, can_state& cs) {
    static const char* const fn = "can_tarn_on";
    int32_t err = bring_up(si, CAN_NODE_ID_FOCUS_NDW, ERR_CAN_FOCUS_NDW_ERROR, &cs.present.focus_ndw);
    if (err) return err;
    if (!ndw_stopped) {
        ndw_stopped = platform::event_create(CAN_NDWHEEL_STOPPED_NAME, true, true);
        if (!ndw_stopped) {
            u_msg_time("%s: Error creating event to signal ND wheel is stopped\n", fn);
            return ERR_INTERNAL_HX;
        }
    }
    if ((err = can_home_ndw(si, true, 10000))) {
        u_msg_time("%s: Error homing the ND wheel\n", fn);
        return err;
    }
    if ((err = ac_llc_mode(si, 1))) return err;
    return keypress_bit(si, can_read_focus_keypress_mode, can_write_focus_keypress_mode, &cfg->keypress_focus, 0x01);
}

int32_t tarn_nodes(sysInfo* si, can_config* cfg, can_state& cs) {
    int32_t err = tarn_inventory(si, cs);
    if (err) return err;
    can_node_flags& p = cs.present;
    if (p.triple_pzt) {
        if ((err = bring_up(si, CAN_NODE_ID_TRIPLEPZT, ERR_CAN_TRIPLEPZT_ERROR, &p.triple_pzt))) return err;
        si->scanner.pztpwr = -1;
    }
    if (p.large_ap) {
        if ((err = bring_up(si, CAN_NODE_ID_LARGEAP, ERR_CAN_LARGEAP_ERROR, &p.large_ap))) return err;
        cs.large_ap_available = true;
    }
    // A wand that does not come up is only flagged absent.
    if (p.wand) bring_up(si, CAN_NODE_ID_WAND, 0, &p.wand);
    if (p.wand2) bring_up(si, CAN_NODE_ID_WAND2, 0, &p.wand2);
    if (p.dd_zoom) {
        if ((err = bring_up(si, CAN_NODE_ID_DD_ZOOM, ERR_CAN_DD_ZOOM_ERROR, &p.dd_zoom))) return err;
        if ((err = disk_on(si, can_read_zoom_dd_control, can_write_zoom_dd_control))) return err;
        if ((err = keypress_bit(si, can_read_zoom_keypress_mode, can_write_zoom_keypress_mode, &cfg->keypress_zoom,
                                0x02)))
            return err;
    }
    if (p.dd_rs) {
        if ((err = bring_up(si, CAN_NODE_ID_DD_RS, ERR_CAN_DD_RS_ERROR, &p.dd_rs))) return err;
        cs.required.dd_rs = true;
        if ((err = disk_on(si, can_read_rs_dd_control, can_write_rs_dd_control))) return err;
        if ((err = can_rs_move(si, 0, true))) return err;
        if ((err = keypress_bit(si, can_read_rs_keypress_mode, can_write_rs_keypress_mode, &cfg->keypress_rs, 0x02)))
            return err;
    }
    if (cs.required.focus_ndw && (err = tarn_focus_ndw(si, cfg, cs))) return err;
    if (p.dd_zoom) {
        if ((err = can_write_zoom_dd_mode(si, 0))) return err;
        if ((err = can_write_zoom_dd_targetVel(si, zoom_disk_velocity(si)))) return err;
    }
    if (cs.required.dd_rs && p.dd_rs && (err = can_write_rs_dd_mode(si, 1))) return err;
    if (p.aux_motor) {
        if ((err = bring_up(si, CAN_NODE_ID_AUX_MOTOR, ERR_CAN_AUX_MOTOR_ERROR, &p.aux_motor))) return err;
        if (si->sysType == SYS_ESKERCAN && (err = can_aux_motor_start(si, 0))) return err;
    }
    const int32_t out = si->sysType == SYS_ESKERCAN ? 4 : si->camera.type == CAM_SCA640G ? 1 : -1;
    if (out >= 0) {
        if ((err = can_bridge_write_digitalout(si, static_cast<uint8_t>(out)))) return err;
        power::wait_ms(100);
    }
    return tarn_enc_zoom_set_backlash(si);
}

}  // namespace

}  // namespace mf
