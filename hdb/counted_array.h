// A growable array of plain items on the counted heap: running out of memory is a result the
// caller handles (and tests can provoke through the platform layer), never an exception.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/platform.h"

namespace hdb {

template <typename T>
class CountedArray {
    static_assert(std::is_trivially_copyable_v<T>, "items are moved with memcpy");

public:
    // `firstCapacity` items are allocated by the first append; each later growth doubles.
    explicit CountedArray(uint32_t firstCapacity) : firstCapacity_(firstCapacity) {}
    ~CountedArray() { platform::Free(items_); }
    CountedArray(const CountedArray&) = delete;
    CountedArray& operator=(const CountedArray&) = delete;

    // False when the array cannot grow; it is unchanged then.
    bool Append(const T& item) {
        if (count_ == capacity_) {
            const uint32_t grown = capacity_ == 0 ? firstCapacity_ : capacity_ * 2;
            auto* bigger = static_cast<T*>(platform::Allocate(sizeof(T) * grown));
            if (!bigger) return false;
            if (count_) std::memcpy(bigger, items_, sizeof(T) * count_);
            platform::Free(items_);
            items_ = bigger;
            capacity_ = grown;
        }
        items_[count_++] = item;
        return true;
    }
    void RemoveLast() { --count_; }
    bool Contains(const T& item) const {
        for (uint32_t i = 0; i < count_; ++i)
            if (items_[i] == item) return true;
        return false;
    }

    T& operator[](uint32_t index) { return items_[index]; }
    const T& operator[](uint32_t index) const { return items_[index]; }
    T& Last() { return items_[count_ - 1]; }
    uint32_t Count() const { return count_; }
    bool Empty() const { return count_ == 0; }

private:
    T* items_ = nullptr;
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
    uint32_t firstCapacity_;
};

}  // namespace hdb
