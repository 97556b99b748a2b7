#include "sim/kernel/tty/tty.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace sim::kernel {

struct Tty::FlipBuffer {
    explicit FlipBuffer(std::size_t size) : chars(size), flags(size) {
        header.char_buf_ptr = chars.data();
        header.flag_buf_ptr = flags.data();
        header.size = static_cast<int>(size);
    }
    tty_buffer header{};
    std::vector<unsigned char> chars;
    std::vector<char> flags;
};

namespace {

// The seam hands the tty layer bare records; this finds the live tty behind one. Machines may
// run on several threads in one test program, so the table is locked.
class TtyRegistry {
public:
    static TtyRegistry& instance() {
        static TtyRegistry registry;
        return registry;
    }
    void add(const tty_struct* record, Tty* tty) {
        std::lock_guard guard(mutex_);
        table_[record] = tty;
    }
    void remove(const tty_struct* record) {
        std::lock_guard guard(mutex_);
        table_.erase(record);
    }
    Tty* find(const tty_struct* record) {
        std::lock_guard guard(mutex_);
        auto found = table_.find(record);
        return found == table_.end() ? nullptr : found->second;
    }

private:
    std::mutex mutex_;
    std::unordered_map<const tty_struct*, Tty*> table_;
};

}  // namespace

Tty::Tty(int index, TtyLimits limits) : limits_(limits) {
    // A buffer must hold something and the read queue must leave room for the throttle test.
    limits_.flip_buffer_size = std::max<std::size_t>(limits_.flip_buffer_size, 1);
    limits_.flip_memory_limit = std::max(limits_.flip_memory_limit, limits_.flip_buffer_size);
    limits_.read_queue_capacity = std::max<std::size_t>(limits_.read_queue_capacity, 1);
    record_.index = index;
    TtyRegistry::instance().add(&record_, this);
}

Tty::~Tty() { TtyRegistry::instance().remove(&record_); }

Tty* Tty::from(const tty_struct* record) { return TtyRegistry::instance().find(record); }

void Tty::relink() {
    tty_buffer* previous = nullptr;
    for (auto& buffer : buffers_) {
        buffer->header.next = nullptr;
        if (previous != nullptr) previous->next = &buffer->header;
        previous = &buffer->header;
    }
    record_.buf.head = buffers_.empty() ? nullptr : &buffers_.front()->header;
    record_.buf.tail = buffers_.empty() ? nullptr : &buffers_.back()->header;
}

Tty::FlipBuffer* Tty::append_buffer() {
    const std::size_t in_use = buffers_.size() * limits_.flip_buffer_size;
    if (in_use + limits_.flip_buffer_size > limits_.flip_memory_limit) return nullptr;
    buffers_.push_back(std::make_unique<FlipBuffer>(limits_.flip_buffer_size));
    relink();
    return buffers_.back().get();
}

std::size_t Tty::insert_flip_string_flags(std::span<const unsigned char> chars,
                                          std::span<const char> flags) {
    const std::size_t count = std::min(chars.size(), flags.size());
    std::size_t taken = 0;
    while (taken < count) {
        FlipBuffer* tail = buffers_.empty() ? nullptr : buffers_.back().get();
        if (tail == nullptr || tail->header.used >= tail->header.size) tail = append_buffer();
        if (tail == nullptr) break;
        tty_buffer& header = tail->header;
        const std::size_t room = static_cast<std::size_t>(header.size - header.used);
        const std::size_t now = std::min(room, count - taken);
        std::copy_n(chars.begin() + static_cast<std::ptrdiff_t>(taken), now,
                    tail->chars.begin() + header.used);
        std::copy_n(flags.begin() + static_cast<std::ptrdiff_t>(taken), now,
                    tail->flags.begin() + header.used);
        header.used += static_cast<int>(now);
        taken += now;
    }
    dropped_ += count - taken;
    return taken;
}

std::size_t Tty::held_in_flip_buffers() const {
    std::size_t held = 0;
    for (const auto& buffer : buffers_)
        held += static_cast<std::size_t>(buffer->header.used - buffer->header.read);
    return held;
}

void Tty::release_consumed_buffers() {
    bool changed = false;
    while (!buffers_.empty()) {
        tty_buffer& front = buffers_.front()->header;
        if (front.read < front.used) break;
        if (buffers_.size() == 1) {
            // The buffer being filled stays; once everything in it is delivered it starts over,
            // so a steady trickle of characters reuses one buffer.
            if (front.commit == front.used) front.used = front.commit = front.read = 0;
            break;
        }
        buffers_.pop_front();
        changed = true;
    }
    if (changed) relink();
}

void Tty::deliver() {
    for (auto& buffer : buffers_) {
        tty_buffer& header = buffer->header;
        while (header.read < header.commit && read_queue_.size() < limits_.read_queue_capacity) {
            read_queue_.push_back(ReceivedChar{buffer->chars[static_cast<std::size_t>(header.read)],
                                               buffer->flags[static_cast<std::size_t>(header.read)]});
            ++header.read;
        }
        if (header.read < header.commit) break;  // the read queue is full
    }
    release_consumed_buffers();
}

void Tty::check_throttle() {
    if (throttled_) return;
    const std::size_t room = limits_.read_queue_capacity - read_queue_.size();
    if (room >= limits_.throttle_room) return;
    throttled_ = true;
    events_.push_back(TtyEvent::throttle);
    if (hooks_.throttle) hooks_.throttle();
}

void Tty::flip_buffer_push() {
    for (auto& buffer : buffers_) buffer->header.commit = buffer->header.used;
    deliver();
    check_throttle();
}

std::vector<ReceivedChar> Tty::read(std::size_t max) {
    const std::size_t count = std::min(max, read_queue_.size());
    std::vector<ReceivedChar> taken(read_queue_.begin(),
                                    read_queue_.begin() + static_cast<std::ptrdiff_t>(count));
    read_queue_.erase(read_queue_.begin(), read_queue_.begin() + static_cast<std::ptrdiff_t>(count));
    deliver();
    if (throttled_ && read_queue_.size() <= limits_.unthrottle_level) {
        throttled_ = false;
        events_.push_back(TtyEvent::unthrottle);
        if (hooks_.unthrottle) hooks_.unthrottle();
    }
    return taken;
}

void Tty::flush_input() {
    read_queue_.clear();
    buffers_.clear();
    relink();
    if (throttled_) {
        throttled_ = false;
        events_.push_back(TtyEvent::unthrottle);
        if (hooks_.unthrottle) hooks_.unthrottle();
    }
}

void Tty::hangup() {
    ++hangups_;
    events_.push_back(TtyEvent::hangup);
    if (hooks_.hangup) hooks_.hangup();
}

void Tty::secure_attention() {
    ++secure_attentions_;
    events_.push_back(TtyEvent::secure_attention);
    if (hooks_.secure_attention) hooks_.secure_attention();
}

}  // namespace sim::kernel
