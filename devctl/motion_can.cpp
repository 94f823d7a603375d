#include "devctl/motion_can.h"

#include "can/can_events.h"
#include "common/bytes.h"
#include "devctl/motion.h"

namespace mf {

int32_t mc_can_register_own_reception(sysInfo* instrument) { return can_register_events(instrument, true); }

void mc_mwi_pdo_callback(uint32_t cob_id, uint32_t length, const uint8_t* data) {
    uint8_t bytes[8] = {};
    if (data) {
        for (uint32_t i = 0; i < 8 && i < length; ++i)
            bytes[i] = data[i];
    }
    can_put_pdo(cob_id, length, bytes);
}

void mc_mwi_emcy_callback(uint32_t first, uint32_t second, uint32_t error_code, uint8_t error_register,
                          const uint8_t* manufacturer) {
    // Block layout: error code (32-bit, little-endian as on the bus), error
    // register, five manufacturer-specific bytes.
    uint8_t block[12] = {};
    store_le32(block, error_code);
    block[4] = error_register;
    if (manufacturer) {
        for (int i = 0; i < 5; ++i)
            block[5 + i] = manufacturer[i];
    }
    can_put_emcy(first, second, block, 0);
}

}  // namespace mf
