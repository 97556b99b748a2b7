// Terminal settings as the kernel keeps them, with the Linux bit values.
//
// The names are the customary ones. The C library's <termios.h> defines the same names as
// macros (with the same values), so a source that needs the host's terminal interface (the pty
// bridge) must not include this header in the same translation unit.
#pragma once

#if defined(CS8) || defined(CRTSCTS) || defined(B9600)
#error "the C library's terminal definitions are already included; keep them in a separate file"
#endif

#include <cstdint>

using tcflag_t = std::uint32_t;
using cc_t = std::uint8_t;

inline constexpr int kernel_nccs = 19;

struct ktermios {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[kernel_nccs];
};

// c_iflag
inline constexpr tcflag_t IGNBRK = 0x0001;
inline constexpr tcflag_t BRKINT = 0x0002;
inline constexpr tcflag_t IGNPAR = 0x0004;
inline constexpr tcflag_t PARMRK = 0x0008;
inline constexpr tcflag_t INPCK = 0x0010;
inline constexpr tcflag_t ISTRIP = 0x0020;
inline constexpr tcflag_t INLCR = 0x0040;
inline constexpr tcflag_t IGNCR = 0x0080;
inline constexpr tcflag_t ICRNL = 0x0100;
inline constexpr tcflag_t IXON = 0x0400;
inline constexpr tcflag_t IXANY = 0x0800;
inline constexpr tcflag_t IXOFF = 0x1000;

// c_oflag
inline constexpr tcflag_t OPOST = 0x0001;
inline constexpr tcflag_t ONLCR = 0x0004;

// c_cflag
inline constexpr tcflag_t CBAUD = 0x100f;
inline constexpr tcflag_t CBAUDEX = 0x1000;
inline constexpr tcflag_t CSIZE = 0x0030;
inline constexpr tcflag_t CS5 = 0x0000;
inline constexpr tcflag_t CS6 = 0x0010;
inline constexpr tcflag_t CS7 = 0x0020;
inline constexpr tcflag_t CS8 = 0x0030;
inline constexpr tcflag_t CSTOPB = 0x0040;
inline constexpr tcflag_t CREAD = 0x0080;
inline constexpr tcflag_t PARENB = 0x0100;
inline constexpr tcflag_t PARODD = 0x0200;
inline constexpr tcflag_t HUPCL = 0x0400;
inline constexpr tcflag_t CLOCAL = 0x0800;
inline constexpr tcflag_t CMSPAR = 0x40000000;
inline constexpr tcflag_t CRTSCTS = 0x80000000;

// c_lflag
inline constexpr tcflag_t ISIG = 0x0001;
inline constexpr tcflag_t ICANON = 0x0002;
inline constexpr tcflag_t ECHO = 0x0008;
inline constexpr tcflag_t ECHOE = 0x0010;
inline constexpr tcflag_t ECHOK = 0x0020;
inline constexpr tcflag_t IEXTEN = 0x8000;

// c_cc indices
inline constexpr int VINTR = 0;
inline constexpr int VQUIT = 1;
inline constexpr int VERASE = 2;
inline constexpr int VKILL = 3;
inline constexpr int VEOF = 4;
inline constexpr int VTIME = 5;
inline constexpr int VMIN = 6;
inline constexpr int VSTART = 8;
inline constexpr int VSTOP = 9;

// Speed codes held in CBAUD.
inline constexpr tcflag_t B0 = 0x0000;
inline constexpr tcflag_t B50 = 0x0001;
inline constexpr tcflag_t B75 = 0x0002;
inline constexpr tcflag_t B110 = 0x0003;
inline constexpr tcflag_t B134 = 0x0004;
inline constexpr tcflag_t B150 = 0x0005;
inline constexpr tcflag_t B200 = 0x0006;
inline constexpr tcflag_t B300 = 0x0007;
inline constexpr tcflag_t B600 = 0x0008;
inline constexpr tcflag_t B1200 = 0x0009;
inline constexpr tcflag_t B1800 = 0x000a;
inline constexpr tcflag_t B2400 = 0x000b;
inline constexpr tcflag_t B4800 = 0x000c;
inline constexpr tcflag_t B9600 = 0x000d;
inline constexpr tcflag_t B19200 = 0x000e;
inline constexpr tcflag_t B38400 = 0x000f;
inline constexpr tcflag_t B57600 = 0x1001;
inline constexpr tcflag_t B115200 = 0x1002;
inline constexpr tcflag_t B230400 = 0x1003;
inline constexpr tcflag_t B460800 = 0x1004;
inline constexpr tcflag_t B500000 = 0x1005;
inline constexpr tcflag_t B576000 = 0x1006;
inline constexpr tcflag_t B921600 = 0x1007;
inline constexpr tcflag_t B1000000 = 0x1008;
inline constexpr tcflag_t B1152000 = 0x1009;
inline constexpr tcflag_t B1500000 = 0x100a;
inline constexpr tcflag_t B2000000 = 0x100b;
inline constexpr tcflag_t B2500000 = 0x100c;
inline constexpr tcflag_t B3000000 = 0x100d;
inline constexpr tcflag_t B3500000 = 0x100e;
inline constexpr tcflag_t B4000000 = 0x100f;
