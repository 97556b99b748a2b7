// The interrupt controller: 4096 lines, each driven by the devices wired to it (wired-OR) and
// edge- or level-triggered. The controller latches; the kernel takes and acknowledges.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace sim::hw {

enum class Trigger : std::uint8_t { edge, level };

enum class InterruptLine : std::uint32_t {};
inline constexpr std::uint32_t interrupt_line_count = 4096;

class InterruptController;

// One device output wired to one line. Devices own their pins; a pin wired to no line does
// nothing. Destroying a pin releases what it drove.
class InterruptPin {
public:
    InterruptPin() = default;
    InterruptPin(InterruptController& controller, InterruptLine line);
    ~InterruptPin();
    InterruptPin(const InterruptPin&) = delete;
    InterruptPin& operator=(const InterruptPin&) = delete;
    InterruptPin(InterruptPin&& other) noexcept;
    InterruptPin& operator=(InterruptPin&& other) noexcept;

    void set(bool asserted);
    bool asserted() const;
    bool wired() const;
    std::optional<InterruptLine> line() const;

private:
    InterruptController* controller_ = nullptr;
    InterruptLine line_{};
    bool asserted_ = false;
};

class InterruptController {
public:
    InterruptController();

    void set_trigger(InterruptLine line, Trigger trigger);  // default: edge
    Trigger trigger(InterruptLine line) const;

    // Current wire level: true while any pin wired to the line asserts it.
    bool level(InterruptLine line) const;
    // Edge lines: a rising edge latched and not yet acknowledged. Level lines: the level.
    bool pending(InterruptLine line) const;
    // Clears an edge line's latch (the kernel does it when it starts the line's handlers).
    void acknowledge(InterruptLine line);
    // The lowest pending line, if any.
    std::optional<InterruptLine> lowest_pending() const;

    // Rising edges seen on each line since the last call of clear_edge_history (for autoprobing).
    bool rose_since_cleared(InterruptLine line) const;
    void clear_edge_history();

    // Called whenever a line becomes pending.
    void set_pending_observer(std::function<void(InterruptLine)> observer);

    // Used by InterruptPin.
    void drive(InterruptLine line, int delta);

    // Number of pins currently asserting the line.
    unsigned drivers(InterruptLine line) const;

private:
    struct Line {
        std::uint32_t drivers = 0;
        Trigger trigger = Trigger::edge;
        bool latched = false;
        bool rose = false;
    };
    static constexpr std::size_t word_bits = 64;

    static std::uint32_t index(InterruptLine line);
    bool compute_pending(const Line& line) const;
    // Keeps the pending bitmap in step with one line; tells the observer when it became pending.
    void update(std::uint32_t line);

    std::vector<Line> lines_;
    std::array<std::uint64_t, interrupt_line_count / word_bits> pending_words_{};
    std::array<std::uint64_t, interrupt_line_count / word_bits> rose_words_{};
    std::function<void(InterruptLine)> observer_;
};

}  // namespace sim::hw
