#include "tests/fuzz/answer_device.h"

namespace detection_fuzz {

namespace {
constexpr std::uint32_t io_space_size = 0x10000;
constexpr std::uint8_t floating_bus = 0xff;
}  // namespace

AnswerDevice::AnswerDevice(sim::hw::Bus& bus, std::uint64_t memory_base, std::uint64_t memory_length)
    : io_claim_(bus, std::uint32_t{0}, io_space_size, static_cast<sim::hw::IoDevice&>(*this), "answers"),
      memory_claim_(bus, memory_base, memory_length, static_cast<sim::hw::MemoryDevice&>(*this), "answers") {}

void AnswerDevice::answer_from(std::span<const std::uint8_t> answers) {
    answers_ = answers;
    next_ = 0;
}

std::uint8_t AnswerDevice::next() { return next_ < answers_.size() ? answers_[next_++] : floating_bus; }

std::uint8_t AnswerDevice::io_read(std::uint32_t) { return next(); }

std::uint32_t AnswerDevice::mem_read(std::uint64_t, unsigned width) {
    std::uint32_t value = 0;
    for (unsigned byte = 0; byte < width; ++byte) value |= std::uint32_t{next()} << (8 * byte);
    return value;
}

}  // namespace detection_fuzz
