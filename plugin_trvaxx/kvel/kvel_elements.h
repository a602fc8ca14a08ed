#pragma once

// Copies and conversions of single described elements, shared by the typed reads and writes and
// by the copy between expressions.

#include "kvel/kvel_types.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace kvel::detail {

template <size_t N> void copyReversed(uint8_t* dest, const uint8_t* src) {
    for (size_t i = 0; i < N; ++i)
        dest[i] = src[N - 1 - i];
}

// Copies count elements of size N, reversing each when asked.
template <size_t N> void copyElements(void* dest, const void* src, size_t count, bool reverse) {
    if (!reverse || N == 1) {
        // A single element (most reads of a record's fields) becomes one inline load and store.
        if (count == 1)
            std::memcpy(dest, src, N);
        else
            std::memcpy(dest, src, count * N);
        return;
    }
    auto* d = static_cast<uint8_t*>(dest);
    auto* s = static_cast<const uint8_t*>(src);
    for (size_t i = 0; i < count; ++i)
        copyReversed<N>(d + i * N, s + i * N);
}

template <class T> T loadElement(const uint8_t* src, bool reverse) {
    T value;
    if (reverse) {
        uint8_t bytes[sizeof(T)];
        copyReversed<sizeof(T)>(bytes, src);
        std::memcpy(&value, bytes, sizeof(T));
    } else {
        std::memcpy(&value, src, sizeof(T));
    }
    return value;
}

template <class T> void storeElement(uint8_t* dest, T value, bool reverse) {
    if (reverse) {
        uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        copyReversed<sizeof(T)>(dest, bytes);
    } else {
        std::memcpy(dest, &value, sizeof(T));
    }
}

// Calls f with a value-initialized object of the described element's C++ type; false when the
// (kind, size) pair has no such type.
template <class F> bool withElementType(uint32_t kind, uint32_t size, F&& f) {
    switch (kind) {
    case KindSigned:
        switch (size) {
        case 1:
            f(int8_t());
            return true;
        case 2:
            f(int16_t());
            return true;
        case 4:
            f(int32_t());
            return true;
        case 8:
            f(int64_t());
            return true;
        }
        return false;
    case KindUnsigned:
        switch (size) {
        case 1:
            f(uint8_t());
            return true;
        case 2:
            f(uint16_t());
            return true;
        case 4:
            f(uint32_t());
            return true;
        case 8:
            f(uint64_t());
            return true;
        }
        return false;
    case KindFloat:
        switch (size) {
        case 4:
            f(float());
            return true;
        case 8:
            f(double());
            return true;
        }
        return false;
    }
    return false;
}

// Converts a number to T; out-of-range floating values saturate instead of invoking undefined
// behaviour.
template <class T, class S> T convertNumber(S value) {
    if constexpr (std::is_floating_point<T>::value || !std::is_floating_point<S>::value) {
        return static_cast<T>(value);
    } else {
        if (!(value == value))
            return T(0);
        if (value <= static_cast<S>(std::numeric_limits<T>::lowest()))
            return std::numeric_limits<T>::lowest();
        if (value >= static_cast<S>(std::numeric_limits<T>::max()))
            return std::numeric_limits<T>::max();
        return static_cast<T>(value);
    }
}

} // namespace kvel::detail
