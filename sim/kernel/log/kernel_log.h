// The kernel log. Each line carries its priority, taken from a leading "<N>" as the kernel's
// printk does (a line without one gets the default priority 4), and the virtual time at which
// it was started. A message without a trailing newline leaves its line open; the next message
// continues it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "sim/hw/event_queue.h"

namespace sim::kernel {

inline constexpr int default_message_priority = 4;

struct LogRecord {
    int priority = default_message_priority;
    hw::TimePoint time{};
    std::string text;       // without the priority prefix and the newline
    bool complete = false;  // the newline has been written
};

enum class LogFormat : std::uint8_t {
    plain,  // "[    0.000000] text", as dmesg prints it
    raw,    // "<6>[    0.000000] text", as dmesg -r prints it
};

class KernelLog {
public:
    explicit KernelLog(const hw::EventQueue& clock, std::size_t capacity = 1u << 16);

    // printk's behaviour on already formatted text.
    void write(std::string_view text);

    const std::deque<LogRecord>& records() const { return records_; }
    std::string dmesg(LogFormat format = LogFormat::plain) const;
    static std::string format_record(const LogRecord& record, LogFormat format);
    // True when any line contains `text`.
    bool contains(std::string_view text) const;
    std::size_t count_containing(std::string_view text) const;
    void clear();

    // Called with each line once its newline is written (echo to a terminal, for instance).
    void set_sink(std::function<void(const LogRecord&)> sink);

private:
    void start_line(std::string_view text_from_line_start, std::size_t& consumed);

    const hw::EventQueue& clock_;
    std::size_t capacity_;
    std::deque<LogRecord> records_;
    std::function<void(const LogRecord&)> sink_;
};

}  // namespace sim::kernel
