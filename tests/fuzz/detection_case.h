// One run of the type detection as a fuzz input describes it. The first bytes of the input say
// how the port is reached and flagged, how it is added, and which of its regions somebody else
// already holds; every byte after them is the answer to one register read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace detection_fuzz {

// How the port reaches config_port: through the exported registration (the serial core then
// chooses the request bits), or by calling the operation directly with bits of our choosing.
enum class Entry : std::uint8_t { register_port, config_port_op };

// Where the port's registers are: at the I/O base given to the module as an RSA probe address,
// at another base, or nowhere (every address field zero; memory ports keep their mapped window).
enum class Placement : std::uint8_t { rsa_probe_base, plain_base, no_address };

struct DetectionCase {
    std::uint8_t access_kind = 0;  // 0 to 5
    std::uint8_t reg_shift = 0;    // 0 to 3
    Placement placement = Placement::plain_base;
    Entry entry = Entry::register_port;
    // Port flags.
    bool no_presence_test = false;
    bool skip_test = false;
    bool four_port = false;
    bool map_on_request = false;
    // The interrupt-line probe: irq_autoprobe when registering, want_irq_probe for the operation.
    bool irq_probe = false;
    // Operation only: want_type_detect, and the request bits that mean nothing.
    bool type_detect = true;
    bool stray_request_bits = false;
    // Regions already held by another driver.
    bool std_region_busy = false;
    bool rsa_region_busy = false;
};

inline constexpr std::size_t case_header_size = 3;
using CaseHeader = std::array<std::uint8_t, case_header_size>;

DetectionCase decode_case(std::span<const std::uint8_t, case_header_size> header);
CaseHeader encode_case(const DetectionCase& detection_case);
std::string describe(const DetectionCase& detection_case);

}  // namespace detection_fuzz
