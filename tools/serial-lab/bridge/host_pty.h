// A host pseudo-terminal standing in for a simulated ttyS, so that real programs (pyserial,
// stty, minicom) can use the port. This header and its source are the only parts of the lab
// that see the host's terminal interface; the kernel's termios names would clash with it, so
// line settings cross this boundary as plain values.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace lab::bridge {

// Line settings of the pty as a program made them (speed, framing, flow control).
struct PtyLineSettings {
    unsigned baud = 0;          // 0 when the program chose a rate the table lacks
    unsigned data_bits = 8;     // 5..8
    bool parity = false;
    bool odd_parity = false;
    bool mark_space = false;    // CMSPAR: stick parity
    bool two_stop_bits = false;
    bool rts_cts = false;
    bool local = false;         // CLOCAL
    bool receiver_on = true;    // CREAD
    bool operator==(const PtyLineSettings&) const = default;
};

class HostPty {
public:
    // Opens a pty pair in raw mode. nullopt (and a reason in `failure`) when the host has none.
    static std::optional<HostPty> open(std::string& failure);
    ~HostPty();
    HostPty(HostPty&& other) noexcept;
    HostPty& operator=(HostPty&& other) noexcept;
    HostPty(const HostPty&) = delete;
    HostPty& operator=(const HostPty&) = delete;

    // "/dev/pts/7": what the program opens.
    const std::string& path() const { return path_; }
    // Links `link` to the pty's path (replacing an old link); false with errno on failure.
    bool make_link(const std::string& link) const;

    // What a program wrote, without blocking; 0 when nothing is there.
    std::size_t read_available(std::span<unsigned char> into);
    // Hands bytes to the program; returns how many the pty took without blocking.
    std::size_t write_some(std::span<const unsigned char> bytes);
    // The settings the program last made.
    PtyLineSettings settings() const;
    // Sets the pty's settings (when the simulated port changed first).
    void apply(const PtyLineSettings& settings);
    // Whether this host's ptys keep data bits and parity as a program sets them. Newer Linux
    // kernels hold every pty at 8 bits without parity, whatever a program asks for.
    bool carries_framing();

    int master_descriptor() const { return master_; }

    // Sleeps until one of the ptys has input or `timeout_ms` has passed.
    static void wait_for_input(std::span<HostPty* const> ptys, int timeout_ms);

private:
    HostPty(int master, int slave, std::string path);
    int master_ = -1;
    int slave_ = -1;  // kept open so the master never sees a hang-up while programs come and go
    std::string path_;
};

}  // namespace lab::bridge
