#include "devctl/rtio.h"

#include <atomic>

#include "common/errors.h"
#include "common/msg.h"

namespace mf {

namespace {

const rtio_driver platform_driver = {platform::rtio_device_open, platform::rtio_device_close,
                                     platform::rtio_device_request};

std::atomic<const rtio_driver*> current_driver{&platform_driver};

const rtio_driver& driver() { return *current_driver.load(std::memory_order_acquire); }

}  // namespace

void rtio_set_driver(const rtio_driver* d) {
    current_driver.store(d ? d : &platform_driver, std::memory_order_release);
}

int32_t rtio_open(int n, rtio_handle* handle) {
    *handle = RTIO_INVALID_HANDLE;
    int sys_error = 0;
    rtio_handle opened = RTIO_INVALID_HANDLE;
    if (!driver().open(n, &opened, &sys_error)) {
        u_sink("%s failed: win_err = %d\n", "rtio_open", sys_error);
        return ERR_CANT_OPEN_FILE;
    }
    *handle = opened;
    return 0;
}

int32_t rtio_close(rtio_handle* handle) {
    if (*handle == RTIO_INVALID_HANDLE) return ERR_INVALID_PARAM;
    int sys_error = 0;
    if (!driver().close(*handle, &sys_error)) {
        u_sink("%s failed: win_err = %d\n", "rtio_close", sys_error);
        return ERR_CANT_CLOSE_DEVICE;
    }
    *handle = RTIO_INVALID_HANDLE;
    return 0;
}

int32_t rtio_in_out(int direction, rtio_handle handle, uint32_t offset, uint32_t* value, int width) {
    if (handle == RTIO_INVALID_HANDLE || (direction != 0 && direction != 1)) return ERR_INVALID_PARAM;
    platform::rtio_block block{};
    uint32_t mask = 0;
    switch (width) {
    case 1:
        block.op = direction ? RTIO_WRITE8 : RTIO_READ8;
        mask = 0xFFu;
        break;
    case 2:
        block.op = direction ? RTIO_WRITE16 : RTIO_READ16;
        mask = 0xFFFFu;
        break;
    case 4:
        block.op = direction ? RTIO_WRITE32 : RTIO_READ32;
        mask = 0xFFFFFFFFu;
        break;
    default:
        return ERR_INVALID_PARAM;
    }
    block.offset = offset;
    if (direction) block.value = *value & mask;
    int sys_error = 0;
    if (!driver().request(handle, &block, &sys_error)) {
        u_sink("%s failed: win_err = %d\n", "rtio_in_out", sys_error);
        return ERR_RTIO;
    }
    if (!direction) *value = block.value;
    return 0;
}

int32_t rtio_write8(rtio_handle handle, uint32_t offset, uint8_t value) {
    uint32_t v = value;
    return rtio_in_out(1, handle, offset, &v, 1);
}

int32_t rtio_write16(rtio_handle handle, uint32_t offset, uint16_t value) {
    uint32_t v = value;
    return rtio_in_out(1, handle, offset, &v, 2);
}

int32_t rtio_write32(rtio_handle handle, uint32_t offset, uint32_t value) {
    return rtio_in_out(1, handle, offset, &value, 4);
}

int32_t rtio_read8(rtio_handle handle, uint32_t offset, uint8_t* value) {
    uint32_t v = 0;
    int32_t err = rtio_in_out(0, handle, offset, &v, 1);
    if (err == 0) *value = static_cast<uint8_t>(v);
    return err;
}

int32_t rtio_read16(rtio_handle handle, uint32_t offset, uint16_t* value) {
    uint32_t v = 0;
    int32_t err = rtio_in_out(0, handle, offset, &v, 2);
    if (err == 0) *value = static_cast<uint16_t>(v);
    return err;
}

int32_t rtio_read32(rtio_handle handle, uint32_t offset, uint32_t* value) {
    return rtio_in_out(0, handle, offset, value, 4);
}

}  // namespace mf
