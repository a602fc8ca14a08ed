// Typed reads and writes through an accessor: size and count checks, then one block copy (with
// byte swapping) or an element-wise numeric conversion.

#include "kvel/kvel_elements.h"
#include "kvel/kvel_internal.h"

#include <type_traits>

namespace kvel {
using namespace detail;

namespace {

template <class T> void checkIntegerAccess(const Accessor& a, uint32_t count, size_t dataLength) {
    if (dataLength != a.expectedDataSize)
        throw sizeMismatch(a.expectedDataSize, dataLength);
    const uint32_t wantedKind = std::is_signed<T>::value ? KindSigned : KindUnsigned;
    if (a.elementSize != sizeof(T) || a.kind != wantedKind || count != a.elementCount)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
}

void checkFloatingAccess(const Accessor& a, uint32_t count, size_t dataLength) {
    if (dataLength != a.expectedDataSize || count != a.elementCount)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
}

template <class T>
void readInto(const Accessor& a, T* dest, uint32_t count, const void* data, size_t dataLength) {
    const uint8_t* src = static_cast<const uint8_t*>(data) + a.byteOffset;
    if constexpr (std::is_integral<T>::value) {
        checkIntegerAccess<T>(a, count, dataLength);
        copyElements<sizeof(T)>(dest, src, count, a.reverseBytes);
    } else {
        checkFloatingAccess(a, count, dataLength);
        if (a.kind == KindFloat && a.elementSize == sizeof(T)) {
            copyElements<sizeof(T)>(dest, src, count, a.reverseBytes);
            return;
        }
        const bool known = withElementType(a.kind, a.elementSize, [&](auto prototype) {
            using E = decltype(prototype);
            for (uint32_t i = 0; i < count; ++i)
                dest[i] = convertNumber<T>(loadElement<E>(src + size_t(i) * sizeof(E), a.reverseBytes));
        });
        if (!known)
            throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
    }
}

template <class T>
void writeFrom(const Accessor& a, const T* source, uint32_t count, void* data, size_t dataLength) {
    uint8_t* dest = static_cast<uint8_t*>(data) + a.byteOffset;
    if constexpr (std::is_integral<T>::value) {
        checkIntegerAccess<T>(a, count, dataLength);
        copyElements<sizeof(T)>(dest, source, count, a.reverseBytes);
    } else {
        checkFloatingAccess(a, count, dataLength);
        if (a.kind == KindFloat && a.elementSize == sizeof(T)) {
            copyElements<sizeof(T)>(dest, source, count, a.reverseBytes);
            return;
        }
        const bool known = withElementType(a.kind, a.elementSize, [&](auto prototype) {
            using E = decltype(prototype);
            for (uint32_t i = 0; i < count; ++i)
                storeElement<E>(dest + size_t(i) * sizeof(E), convertNumber<E>(source[i]), a.reverseBytes);
        });
        if (!known)
            throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
    }
}

} // namespace

template <class T>
void read(const AccessorPtr& accessor, T* dest, uint32_t count, const void* data, size_t dataLength) {
    if (!accessor)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer, "Interpreter is null");
    readInto(*accessor, dest, count, data, dataLength);
}

template <class T>
void write(const AccessorPtr& accessor, const T* src, uint32_t count, void* data, size_t dataLength) {
    if (!accessor)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer, "Interpreter is null");
    writeFrom(*accessor, src, count, data, dataLength);
}

template <class T>
void read(std::string_view path, T* dest, uint32_t count, const std::vector<KvelChunk>& chunks, int channel) {
    const KvelChunk& chunk = findChunk(chunks, channel);
    const DescriptionEntry* entry = descriptionEntry(chunk);
    const Accessor* accessor = cachedAccessor(entry->root, path, NativeTypeCode<T>::value);
    readInto(*accessor, dest, count, chunk.data, chunk.dataLength);
}

#define KVEL_INSTANTIATE(T)                                                                                  \
    template void read<T>(const AccessorPtr&, T*, uint32_t, const void*, size_t);                            \
    template void write<T>(const AccessorPtr&, const T*, uint32_t, void*, size_t);                           \
    template void read<T>(std::string_view, T*, uint32_t, const std::vector<KvelChunk>&, int);
KVEL_INSTANTIATE(int8_t)
KVEL_INSTANTIATE(int16_t)
KVEL_INSTANTIATE(int32_t)
KVEL_INSTANTIATE(int64_t)
KVEL_INSTANTIATE(uint8_t)
KVEL_INSTANTIATE(uint16_t)
KVEL_INSTANTIATE(uint32_t)
KVEL_INSTANTIATE(uint64_t)
KVEL_INSTANTIATE(float)
KVEL_INSTANTIATE(double)
#undef KVEL_INSTANTIATE

} // namespace kvel
