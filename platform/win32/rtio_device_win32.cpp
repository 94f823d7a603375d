#include <windows.h>

#include <cstdio>

#include "platform/rtio_device.h"

namespace mf::platform {

bool rtio_device_open(int n, rtio_device* device, int* sys_error) {
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\WRTdev%d", n);
    HANDLE h = CreateFileA(path, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *sys_error = static_cast<int>(GetLastError());
        return false;
    }
    *device = reinterpret_cast<rtio_device>(h);
    return true;
}

bool rtio_device_close(rtio_device device, int* sys_error) {
    if (!CloseHandle(reinterpret_cast<HANDLE>(device))) {
        *sys_error = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

bool rtio_device_request(rtio_device device, rtio_block* block, int* sys_error) {
    DWORD returned = 0;
    if (!DeviceIoControl(reinterpret_cast<HANDLE>(device), rtio_control_code, block, sizeof *block, block,
                         sizeof *block, &returned, nullptr)) {
        *sys_error = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

}  // namespace mf::platform
