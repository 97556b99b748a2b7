// A device that answers every read with the next byte of the fuzz input (0xff once the input
// is used up, as a floating bus would) and drops writes. It takes the whole I/O port space and
// a memory range, so every access the driver makes reaches it, wherever it points.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "sim/hw/board/io_claim.h"
#include "sim/hw/bus.h"

namespace detection_fuzz {

class AnswerDevice final : public sim::hw::IoDevice, public sim::hw::MemoryDevice {
public:
    AnswerDevice(sim::hw::Bus& bus, std::uint64_t memory_base, std::uint64_t memory_length);

    // The answers for the next run; the span must outlive it.
    void answer_from(std::span<const std::uint8_t> answers);

    std::uint8_t io_read(std::uint32_t offset) override;
    void io_write(std::uint32_t, std::uint8_t) override {}
    std::string_view register_name(std::uint32_t, bool) const override { return "ANSWER"; }

    // A 32-bit load takes four answers, low byte first.
    std::uint32_t mem_read(std::uint64_t offset, unsigned width) override;
    void mem_write(std::uint64_t, unsigned, std::uint32_t) override {}
    std::string_view register_name(std::uint64_t, bool) const override { return "ANSWER"; }

private:
    std::uint8_t next();

    std::span<const std::uint8_t> answers_;
    std::size_t next_ = 0;
    sim::hw::IoClaim io_claim_;
    sim::hw::IoClaim memory_claim_;
};

}  // namespace detection_fuzz
