// The test functions that reach into the serial and CAN layers.
#include "can/can_events.h"
#include "devctl/devctl.h"
#include "serial/sio.h"

namespace mf {

bool dev_serial_input_waiting(dev_handle handle, void*) {
    // The status query also clears the line's error flags, so bytes that came
    // with a line error do not count now and do on the next pass.
    uint32_t waiting = 0;
    uint32_t errors = 0;
    return sio_port_status(static_cast<sio_handle>(handle), &waiting, &errors) == 0 && waiting > 0 && errors == 0;
}

bool dev_can_events_waiting(dev_handle, void* object) {
    return object && can_process_events(static_cast<const sysInfo*>(object));
}

}  // namespace mf
