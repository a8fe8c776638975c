// Arrays indexed from 1, as the model record and the estimate command number their slots.
// OneBased owns fixed storage; OneBasedView reads (or writes) a caller's array through a pointer
// to its element 1. Both check the index in debug builds only: the hot paths run in the minimiser.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>

namespace kestrum {

template <class T, std::size_t Size>
class OneBased {
public:
    static constexpr std::size_t size() { return Size; }

    constexpr T& operator()(std::size_t i)
    {
        assert(i >= 1 && i <= Size);
        return items_[i - 1];
    }
    constexpr const T& operator()(std::size_t i) const
    {
        assert(i >= 1 && i <= Size);
        return items_[i - 1];
    }

    // Element 1, for passing the array by reference.
    T* data() { return items_.data(); }
    const T* data() const { return items_.data(); }

    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    friend bool operator==(const OneBased&, const OneBased&) = default;

private:
    std::array<T, Size> items_{};
};

template <class T>
class OneBasedView {
public:
    constexpr OneBasedView(T* first, std::size_t size) : first_(first), size_(size) {}

    constexpr std::size_t size() const { return size_; }
    constexpr T& operator()(std::size_t i) const
    {
        assert(i >= 1 && i <= size_);
        return first_[i - 1];
    }

private:
    T* first_;
    std::size_t size_;
};

} // namespace kestrum
