#include "tests/sim_kernel/test_devices.h"

namespace sim::kernel::testing {

PinDevice::PinDevice(hw::InterruptController& controller, unsigned line)
    : pin_(controller, static_cast<hw::InterruptLine>(line)) {}

std::uint8_t PinDevice::io_read(std::uint32_t offset) {
    ++reads;
    return offset < registers_.size() ? registers_[offset] : 0xff;
}

void PinDevice::io_write(std::uint32_t offset, std::uint8_t value) {
    ++writes;
    if (offset >= registers_.size()) return;
    registers_[offset] = value;
    if (offset == 0) pin_.set(value != 0);
}

std::string_view PinDevice::register_name(std::uint32_t offset, bool) const {
    return offset == 0 ? "CTRL" : "DATA";
}

std::uint32_t MemoryBlock::mem_read(std::uint64_t offset, unsigned width) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width && offset + i < bytes_.size(); ++i) {
        value |= static_cast<std::uint32_t>(bytes_[offset + i]) << (8 * i);
    }
    return value;
}

void MemoryBlock::mem_write(std::uint64_t offset, unsigned width, std::uint32_t value) {
    for (unsigned i = 0; i < width && offset + i < bytes_.size(); ++i) {
        bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace sim::kernel::testing
