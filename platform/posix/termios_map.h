// Baud rates and character sizes between termios codes and plain numbers,
// shared by the serial port and pseudo-terminal backends.
#pragma once

#include <termios.h>

#include <cstdint>

namespace mf::platform::posix {

struct BaudEntry {
    uint32_t baud;
    speed_t code;
};

inline const BaudEntry baud_table[] = {
    {50, B50},         {75, B75},       {110, B110},     {134, B134},     {150, B150},       {200, B200},
    {300, B300},       {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

inline bool speed_of(uint32_t baud, speed_t* code) {
    for (const auto& e : baud_table) {
        if (e.baud == baud) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

inline uint32_t baud_of(speed_t code) {
    for (const auto& e : baud_table)
        if (e.code == code) return e.baud;
    return 0;
}

inline tcflag_t size_flag(uint8_t bits) {
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

inline uint8_t size_of(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

}  // namespace mf::platform::posix
