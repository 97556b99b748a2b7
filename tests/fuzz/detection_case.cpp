#include "tests/fuzz/detection_case.h"

#include <fmt/format.h>

namespace detection_fuzz {
namespace {

constexpr unsigned access_kind_count = 6;

// Header layout. Byte 0: access kind (bits 2-0, taken modulo 6), register shift (bits 4-3),
// no_presence_test (5), skip_test (6), entry (7). Byte 1: placement (bits 1-0, 3 reads as
// plain), four_port (2), interrupt probe (3), map_on_request (4), no type detection (5), stray
// request bits (6), RSA region busy (7). Byte 2: standard region busy (0); the rest is unused.
constexpr bool bit(std::uint8_t byte, unsigned n) { return ((byte >> n) & 1u) != 0; }
constexpr std::uint8_t set_bit(bool on, unsigned n) { return static_cast<std::uint8_t>(on ? 1u << n : 0u); }

Placement placement_of(unsigned value) {
    switch (value & 3u) {
    case 0: return Placement::rsa_probe_base;
    case 2: return Placement::no_address;
    default: return Placement::plain_base;
    }
}

unsigned placement_bits(Placement placement) {
    switch (placement) {
    case Placement::rsa_probe_base: return 0;
    case Placement::plain_base: return 1;
    case Placement::no_address: return 2;
    }
    return 1;
}

const char* entry_name(Entry entry) {
    return entry == Entry::register_port ? "serial8250_register_port" : "config_port operation";
}

const char* placement_name(Placement placement) {
    switch (placement) {
    case Placement::rsa_probe_base: return "at the RSA probe address";
    case Placement::plain_base: return "at a plain address";
    case Placement::no_address: return "without an address";
    }
    return "?";
}

}  // namespace

DetectionCase decode_case(std::span<const std::uint8_t, case_header_size> header) {
    DetectionCase c;
    c.access_kind = static_cast<std::uint8_t>((header[0] & 7u) % access_kind_count);
    c.reg_shift = static_cast<std::uint8_t>((header[0] >> 3) & 3u);
    c.no_presence_test = bit(header[0], 5);
    c.skip_test = bit(header[0], 6);
    c.entry = bit(header[0], 7) ? Entry::config_port_op : Entry::register_port;
    c.placement = placement_of(header[1]);
    c.four_port = bit(header[1], 2);
    c.irq_probe = bit(header[1], 3);
    c.map_on_request = bit(header[1], 4);
    c.type_detect = !bit(header[1], 5);
    c.stray_request_bits = bit(header[1], 6);
    c.rsa_region_busy = bit(header[1], 7);
    c.std_region_busy = bit(header[2], 0);
    return c;
}

CaseHeader encode_case(const DetectionCase& c) {
    CaseHeader header{};
    header[0] = static_cast<std::uint8_t>((c.access_kind % access_kind_count) | ((c.reg_shift & 3u) << 3) |
                                          set_bit(c.no_presence_test, 5) | set_bit(c.skip_test, 6) |
                                          set_bit(c.entry == Entry::config_port_op, 7));
    header[1] = static_cast<std::uint8_t>(placement_bits(c.placement) | set_bit(c.four_port, 2) |
                                          set_bit(c.irq_probe, 3) | set_bit(c.map_on_request, 4) |
                                          set_bit(!c.type_detect, 5) | set_bit(c.stray_request_bits, 6) |
                                          set_bit(c.rsa_region_busy, 7));
    header[2] = set_bit(c.std_region_busy, 0);
    return header;
}

std::string describe(const DetectionCase& c) {
    std::string flags;
    auto add = [&flags](bool on, const char* name) {
        if (!on) return;
        if (!flags.empty()) flags += ' ';
        flags += name;
    };
    add(c.no_presence_test, "no_presence_test");
    add(c.skip_test, "skip_test");
    add(c.four_port, "four_port");
    add(c.map_on_request, "map_on_request");
    add(c.irq_probe, "irq-probe");
    add(!c.type_detect, "no-type-detect");
    add(c.stray_request_bits, "stray-request-bits");
    add(c.std_region_busy, "std-region-busy");
    add(c.rsa_region_busy, "rsa-region-busy");
    return fmt::format("access kind {}, shift {}, {}, through {}, flags [{}]", c.access_kind, c.reg_shift,
                       placement_name(c.placement), entry_name(c.entry), flags);
}

}  // namespace detection_fuzz
