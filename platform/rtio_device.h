// The register I/O device: the driver through which the board registers of the
// register-mapped instrument hardware are reached. One request carries a 12-byte
// block of three 32-bit fields in native byte order; the driver reads it and
// writes the answer back into the same block.
#pragma once

#include <cstdint>

namespace mf::platform {

// Opaque device handle; rtio_invalid_device means "not open".
using rtio_device = std::intptr_t;
inline constexpr rtio_device rtio_invalid_device = -1;

struct rtio_block {
    uint32_t op;      // operation code
    uint32_t offset;  // register offset
    uint32_t value;   // written value, or the value read
};
static_assert(sizeof(rtio_block) == 12);

// The driver's I/O control code: device type 0x9C4A, function 0xA00, buffered,
// any access.
inline constexpr uint32_t rtio_control_code = 0x9C4A2800u;

// Opens register I/O device number n (Windows "\\.\WRTdev<n>" with no access
// rights and no sharing; POSIX the node "/dev/wrtdev<n>"). False on failure with
// the system error number in *sys_error.
bool rtio_device_open(int n, rtio_device* device, int* sys_error);
// False on failure with the system error number in *sys_error.
bool rtio_device_close(rtio_device device, int* sys_error);
// Passes the block to the driver with rtio_control_code and takes its answer back
// into the same block. False on failure with the system error number in *sys_error.
bool rtio_device_request(rtio_device device, rtio_block* block, int* sys_error);

}  // namespace mf::platform
