#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/rtio_device.h"

namespace mf::platform {

bool rtio_device_open(int n, rtio_device* device, int* sys_error) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/wrtdev%d", n);
    // The driver is reached only through its ioctl; the descriptor is never read
    // or written, and it must not leak into child processes.
    int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *sys_error = errno;
        return false;
    }
    *device = fd;
    return true;
}

bool rtio_device_close(rtio_device device, int* sys_error) {
    if (::close(static_cast<int>(device)) != 0) {
        *sys_error = errno;
        return false;
    }
    return true;
}

bool rtio_device_request(rtio_device device, rtio_block* block, int* sys_error) {
    // The same control code as on Windows, so one driver source serves both.
    if (::ioctl(static_cast<int>(device), static_cast<unsigned long>(rtio_control_code), block) < 0) {
        *sys_error = errno;
        return false;
    }
    return true;
}

}  // namespace mf::platform
