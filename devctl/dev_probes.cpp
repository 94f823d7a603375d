// The test functions that reach into the serial and CAN layers.
#include "can/can_events.h"
#include "devctl/devctl.h"
#include "serial/sio.h"

namespace mf {

bool dev_serial_input_waiting(dev_handle handle, void*) {
    // The serial layer's status query also clears the line's error flags.
    uint32_t waiting = 0;
    return sio_bytes_waiting(static_cast<sio_handle>(handle), &waiting) == 0 && waiting > 0;
}

bool dev_can_events_waiting(dev_handle, void* object) {
    return object && can_process_events(static_cast<const sysInfo*>(object));
}

}  // namespace mf
