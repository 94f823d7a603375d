// Register I/O: one driver request per register access, through the register I/O
// device. Any thread may call these; each request uses its own block.
#pragma once

#include <cstdint>

#include "platform/rtio_device.h"

namespace mf {

using rtio_handle = platform::rtio_device;
inline constexpr rtio_handle RTIO_INVALID_HANDLE = platform::rtio_invalid_device;

// Operation codes of the request block.
enum rtio_op : uint32_t {
    RTIO_READ8 = 1,
    RTIO_READ16 = 2,
    RTIO_READ32 = 3,
    RTIO_WRITE8 = 4,
    RTIO_WRITE16 = 5,
    RTIO_WRITE32 = 6,
};

// The driver behind the rtio_ operations: the platform device unless a test
// installs another. Each call returns false with the system error in *sys_error.
struct rtio_driver {
    bool (*open)(int n, rtio_handle* handle, int* sys_error);
    bool (*close)(rtio_handle handle, int* sys_error);
    bool (*request)(rtio_handle handle, platform::rtio_block* block, int* sys_error);
};
// Installs a driver; null restores the platform device. Call while no register
// access is in progress.
void rtio_set_driver(const rtio_driver* driver);

// Opens device n. ERR_CANT_OPEN_FILE (with "rtio_open failed: win_err = <n>") leaves
// *handle invalid.
int32_t rtio_open(int n, rtio_handle* handle);
// ERR_INVALID_PARAM for the invalid handle; ERR_CANT_CLOSE_DEVICE when the close
// fails (record unchanged); on success *handle becomes invalid.
int32_t rtio_close(rtio_handle* handle);
// direction 1 writes *value (truncated to width), 0 reads into *value; width 1, 2
// or 4 bytes. ERR_INVALID_PARAM for the invalid handle, another width or another
// direction; ERR_RTIO when the driver request fails.
int32_t rtio_in_out(int direction, rtio_handle handle, uint32_t offset, uint32_t* value, int width);

int32_t rtio_write8(rtio_handle handle, uint32_t offset, uint8_t value);
int32_t rtio_write16(rtio_handle handle, uint32_t offset, uint16_t value);
int32_t rtio_write32(rtio_handle handle, uint32_t offset, uint32_t value);
int32_t rtio_read8(rtio_handle handle, uint32_t offset, uint8_t* value);
int32_t rtio_read16(rtio_handle handle, uint32_t offset, uint16_t* value);
int32_t rtio_read32(rtio_handle handle, uint32_t offset, uint32_t* value);

}  // namespace mf
