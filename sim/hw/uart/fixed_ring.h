// A first-in first-out ring whose storage is allocated when its capacity is set, never while
// it is used: the FIFOs of the chip models.
#pragma once

#include <cstddef>
#include <vector>

#include "sim/hw/logging.h"

namespace sim::hw {

template <typename T>
class FixedRing {
public:
    explicit FixedRing(std::size_t capacity = 1) : storage_(capacity ? capacity : 1) {}

    // Empties the ring.
    void set_capacity(std::size_t capacity) {
        storage_.assign(capacity ? capacity : 1, T{});
        clear();
    }
    std::size_t capacity() const { return storage_.size(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void clear() {
        head_ = 0;
        size_ = 0;
    }
    void push(const T& value) {
        if (size_ == storage_.size()) panic("push onto a full ring of {}", storage_.size());
        storage_[index(size_)] = value;
        ++size_;
    }
    T pop() {
        if (size_ == 0) panic("pop from an empty ring");
        T value = storage_[head_];
        head_ = index(1);
        --size_;
        return value;
    }
    T& front() { return storage_[head_]; }
    const T& front() const { return storage_[head_]; }
    T& back() { return storage_[index(size_ - 1)]; }
    const T& operator[](std::size_t i) const { return storage_[index(i)]; }

private:
    std::size_t index(std::size_t i) const {
        std::size_t at = head_ + i;
        return at >= storage_.size() ? at - storage_.size() : at;
    }

    std::vector<T> storage_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace sim::hw
