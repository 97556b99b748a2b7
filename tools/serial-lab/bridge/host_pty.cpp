// The host's terminal interface lives here alone: no kernel-interface header may be included.
#include "tools/serial-lab/bridge/host_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace lab::bridge {
namespace {

struct RateCode {
    unsigned rate;
    speed_t code;
};

constexpr std::array<RateCode, 30> host_rates{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

unsigned rate_of(speed_t code) {
    for (const auto& entry : host_rates) {
        if (entry.code == code) return entry.rate;
    }
    return 0;
}

std::optional<speed_t> code_of(unsigned rate) {
    for (const auto& entry : host_rates) {
        if (entry.rate == rate) return entry.code;
    }
    return std::nullopt;
}

}  // namespace

std::optional<HostPty> HostPty::open(std::string& failure) {
    int master = -1;
    int slave = -1;
    std::array<char, 256> name{};
    // Raw, so nothing is echoed or edited before a program takes the pty over, at 38400 bit/s
    // (a pty's customary "no particular rate"), so that a program setting its rate makes a
    // change the host accepts and the bridge sees.
    termios settings{};
    cfmakeraw(&settings);
    settings.c_cflag |= CREAD | CLOCAL;
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    if (openpty(&master, &slave, name.data(), &settings, nullptr) != 0) {
        failure = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return std::nullopt;
    }
    const int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
    return HostPty(master, slave, name.data());
}

HostPty::HostPty(int master, int slave, std::string path)
    : master_(master), slave_(slave), path_(std::move(path)) {}

HostPty::~HostPty() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

HostPty::HostPty(HostPty&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      path_(std::move(other.path_)) {}

HostPty& HostPty::operator=(HostPty&& other) noexcept {
    if (this != &other) {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
        master_ = std::exchange(other.master_, -1);
        slave_ = std::exchange(other.slave_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

bool HostPty::make_link(const std::string& link) const {
    unlink(link.c_str());
    return symlink(path_.c_str(), link.c_str()) == 0;
}

std::size_t HostPty::read_available(std::span<unsigned char> into) {
    const ssize_t got = ::read(master_, into.data(), into.size());
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t HostPty::write_some(std::span<const unsigned char> bytes) {
    if (bytes.empty()) return 0;
    const ssize_t put = ::write(master_, bytes.data(), bytes.size());
    return put > 0 ? static_cast<std::size_t>(put) : 0;
}

PtyLineSettings HostPty::settings() const {
    termios host{};
    PtyLineSettings result;
    if (tcgetattr(slave_, &host) != 0) return result;
    result.baud = rate_of(cfgetospeed(&host));
    switch (host.c_cflag & CSIZE) {
        case CS5: result.data_bits = 5; break;
        case CS6: result.data_bits = 6; break;
        case CS7: result.data_bits = 7; break;
        default: result.data_bits = 8; break;
    }
    result.parity = (host.c_cflag & PARENB) != 0;
    result.odd_parity = (host.c_cflag & PARODD) != 0;
    result.mark_space = (host.c_cflag & CMSPAR) != 0;
    result.two_stop_bits = (host.c_cflag & CSTOPB) != 0;
    result.rts_cts = (host.c_cflag & CRTSCTS) != 0;
    result.local = (host.c_cflag & CLOCAL) != 0;
    result.receiver_on = (host.c_cflag & CREAD) != 0;
    return result;
}

void HostPty::apply(const PtyLineSettings& wanted) {
    termios host{};
    if (tcgetattr(slave_, &host) != 0) return;
    host.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD);
    static constexpr std::array<tcflag_t, 4> sizes{CS5, CS6, CS7, CS8};
    host.c_cflag |= sizes[(wanted.data_bits < 5 || wanted.data_bits > 8) ? 3 : wanted.data_bits - 5];
    if (wanted.parity) host.c_cflag |= PARENB;
    if (wanted.odd_parity) host.c_cflag |= PARODD;
    if (wanted.mark_space) host.c_cflag |= CMSPAR;
    if (wanted.two_stop_bits) host.c_cflag |= CSTOPB;
    if (wanted.rts_cts) host.c_cflag |= CRTSCTS;
    if (wanted.local) host.c_cflag |= CLOCAL;
    if (wanted.receiver_on) host.c_cflag |= CREAD;
    if (const auto code = code_of(wanted.baud)) {
        cfsetispeed(&host, *code);
        cfsetospeed(&host, *code);
    }
    tcsetattr(slave_, TCSANOW, &host);
}

void HostPty::wait_for_input(std::span<HostPty* const> ptys, int timeout_ms) {
    std::array<pollfd, 32> descriptors{};
    std::size_t count = 0;
    for (HostPty* pty : ptys) {
        if (count == descriptors.size()) break;
        descriptors[count++] = pollfd{pty->master_, POLLIN, 0};
    }
    ::poll(descriptors.data(), count, timeout_ms);
}

bool HostPty::carries_framing() {
    termios before{};
    if (tcgetattr(slave_, &before) != 0) return false;
    termios probe = before;
    probe.c_cflag = (probe.c_cflag & ~CSIZE) | CS7 | PARENB;
    cfsetospeed(&probe, cfgetospeed(&before) == B38400 ? B19200 : B38400);  // a change the host keeps
    tcsetattr(slave_, TCSANOW, &probe);
    termios after{};
    const bool kept = tcgetattr(slave_, &after) == 0 && (after.c_cflag & CSIZE) == CS7 && (after.c_cflag & PARENB) != 0;
    tcsetattr(slave_, TCSANOW, &before);
    return kept;
}

}  // namespace lab::bridge
