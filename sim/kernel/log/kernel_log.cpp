#include "sim/kernel/log/kernel_log.h"

#include <chrono>
#include <utility>

#include <fmt/format.h>

namespace sim::kernel {

KernelLog::KernelLog(const hw::EventQueue& clock, std::size_t capacity)
    : clock_(clock), capacity_(capacity == 0 ? 1 : capacity) {}

void KernelLog::start_line(std::string_view text, std::size_t& consumed) {
    LogRecord record;
    record.time = clock_.now();
    // Only a line's first characters can carry the priority; "<N>" elsewhere is plain text.
    if (text.size() >= 3 && text[0] == '<' && text[1] >= '0' && text[1] <= '7' && text[2] == '>') {
        record.priority = text[1] - '0';
        consumed = 3;
    } else {
        consumed = 0;
    }
    if (records_.size() == capacity_) records_.pop_front();
    records_.push_back(std::move(record));
}

void KernelLog::write(std::string_view text) {
    while (!text.empty()) {
        if (records_.empty() || records_.back().complete) {
            std::size_t consumed = 0;
            start_line(text, consumed);
            text.remove_prefix(consumed);
        }
        LogRecord& line = records_.back();
        const auto newline = text.find('\n');
        if (newline == std::string_view::npos) {
            line.text.append(text);
            return;
        }
        line.text.append(text.substr(0, newline));
        line.complete = true;
        text.remove_prefix(newline + 1);
        if (sink_) sink_(line);
    }
}

std::string KernelLog::format_record(const LogRecord& record, LogFormat format) {
    const auto since_boot = std::chrono::duration_cast<std::chrono::microseconds>(
                                record.time.time_since_epoch())
                                .count();
    const auto seconds = since_boot / 1000000;
    const auto micros = since_boot % 1000000;
    if (format == LogFormat::raw) {
        return fmt::format("<{}>[{:5}.{:06}] {}", record.priority, seconds, micros, record.text);
    }
    return fmt::format("[{:5}.{:06}] {}", seconds, micros, record.text);
}

std::string KernelLog::dmesg(LogFormat format) const {
    std::string out;
    for (const LogRecord& record : records_) {
        out += format_record(record, format);
        out += '\n';
    }
    return out;
}

bool KernelLog::contains(std::string_view text) const { return count_containing(text) != 0; }

std::size_t KernelLog::count_containing(std::string_view text) const {
    std::size_t count = 0;
    for (const LogRecord& record : records_) {
        if (record.text.find(text) != std::string::npos) ++count;
    }
    return count;
}

void KernelLog::clear() { records_.clear(); }

void KernelLog::set_sink(std::function<void(const LogRecord&)> sink) { sink_ = std::move(sink); }

}  // namespace sim::kernel
