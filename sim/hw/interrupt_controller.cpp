#include "sim/hw/interrupt_controller.h"

#include <bit>

#include "sim/hw/logging.h"

namespace sim::hw {

InterruptPin::InterruptPin(InterruptController& controller, InterruptLine line)
    : controller_(&controller), line_(line) {
    if (static_cast<std::uint32_t>(line) >= interrupt_line_count) {
        fatal("interrupt line {} does not exist (the controller has {} lines)",
              static_cast<std::uint32_t>(line), interrupt_line_count);
    }
}

InterruptPin::~InterruptPin() {
    if (controller_ && asserted_) controller_->drive(line_, -1);
}

InterruptPin::InterruptPin(InterruptPin&& other) noexcept
    : controller_(other.controller_), line_(other.line_), asserted_(other.asserted_) {
    other.controller_ = nullptr;
    other.asserted_ = false;
}

InterruptPin& InterruptPin::operator=(InterruptPin&& other) noexcept {
    if (this != &other) {
        if (controller_ && asserted_) controller_->drive(line_, -1);
        controller_ = other.controller_;
        line_ = other.line_;
        asserted_ = other.asserted_;
        other.controller_ = nullptr;
        other.asserted_ = false;
    }
    return *this;
}

void InterruptPin::set(bool asserted) {
    if (asserted == asserted_) return;
    asserted_ = asserted;
    if (controller_) controller_->drive(line_, asserted ? 1 : -1);
}

bool InterruptPin::asserted() const { return asserted_; }

bool InterruptPin::wired() const { return controller_ != nullptr; }

std::optional<InterruptLine> InterruptPin::line() const {
    if (!controller_) return std::nullopt;
    return line_;
}

InterruptController::InterruptController() : lines_(interrupt_line_count) {}

std::uint32_t InterruptController::index(InterruptLine line) {
    const auto i = static_cast<std::uint32_t>(line);
    if (i >= interrupt_line_count) panic("interrupt line {} out of range", i);
    return i;
}

bool InterruptController::compute_pending(const Line& line) const {
    return line.trigger == Trigger::edge ? line.latched : line.drivers > 0;
}

void InterruptController::update(std::uint32_t i) {
    std::uint64_t& word = pending_words_[i / word_bits];
    const std::uint64_t bit = std::uint64_t{1} << (i % word_bits);
    const bool was = (word & bit) != 0;
    const bool now = compute_pending(lines_[i]);
    if (now) word |= bit; else word &= ~bit;
    if (now && !was && observer_) observer_(static_cast<InterruptLine>(i));
}

void InterruptController::set_trigger(InterruptLine line, Trigger trigger) {
    const auto i = index(line);
    lines_[i].trigger = trigger;
    // An edge line starts with nothing latched; a level line shows its wire at once.
    lines_[i].latched = false;
    update(i);
}

Trigger InterruptController::trigger(InterruptLine line) const { return lines_[index(line)].trigger; }

bool InterruptController::level(InterruptLine line) const { return lines_[index(line)].drivers > 0; }

unsigned InterruptController::drivers(InterruptLine line) const { return lines_[index(line)].drivers; }

bool InterruptController::pending(InterruptLine line) const {
    return compute_pending(lines_[index(line)]);
}

void InterruptController::acknowledge(InterruptLine line) {
    const auto i = index(line);
    lines_[i].latched = false;
    update(i);
}

std::optional<InterruptLine> InterruptController::lowest_pending() const {
    for (std::size_t w = 0; w < pending_words_.size(); ++w) {
        if (pending_words_[w] != 0) {
            return static_cast<InterruptLine>(w * word_bits +
                                              static_cast<std::size_t>(std::countr_zero(pending_words_[w])));
        }
    }
    return std::nullopt;
}

bool InterruptController::rose_since_cleared(InterruptLine line) const {
    const auto i = index(line);
    return (rose_words_[i / word_bits] >> (i % word_bits)) & 1u;
}

void InterruptController::clear_edge_history() { rose_words_.fill(0); }

void InterruptController::set_pending_observer(std::function<void(InterruptLine)> observer) {
    observer_ = std::move(observer);
}

void InterruptController::drive(InterruptLine line, int delta) {
    const auto i = index(line);
    Line& l = lines_[i];
    if (delta < 0 && l.drivers < static_cast<std::uint32_t>(-delta)) {
        panic("interrupt line {} released by a pin that did not drive it", i);
    }
    const bool was_high = l.drivers > 0;
    l.drivers = static_cast<std::uint32_t>(static_cast<std::int64_t>(l.drivers) + delta);
    if (!was_high && l.drivers > 0) {
        l.latched = true;
        rose_words_[i / word_bits] |= std::uint64_t{1} << (i % word_bits);
    }
    update(i);
}

}  // namespace sim::hw
