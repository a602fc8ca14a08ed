#include "kvel/kvel_types.h"

#include "kvel/kvel_interpret.h"

#include <algorithm>
#include <string>

namespace kvel {

IType::IType(std::string name, Dimensions dimensions, uint32_t offset, uint32_t size, uint32_t byteOrder)
    : m_name(std::move(name)), m_dimensions(std::move(dimensions)), m_offset(offset), m_size(size),
      m_byteOrder(byteOrder) {}

IType::~IType() = default;

uint64_t IType::elementCount() const {
    uint64_t count = 1;
    for (uint32_t extent : m_dimensions)
        if (__builtin_mul_overflow(count, uint64_t(extent), &count))
            return UINT64_MAX; // more than any data block can hold; callers compare against sizes
    return count;
}

uint64_t IType::linearIndex(const Indices& indices) const {
    const size_t n = m_dimensions.size();
    const size_t k = indices.size();
    if (k > n)
        throw InterpretError(__FILE__, __LINE__, InterpretError::SizeMismatch,
                             "index has more dimensions (" + std::to_string(k) +
                                 ") than the actual data type (" + std::to_string(n) + ")");
    const std::optional<uint64_t> sum = checkedLinearIndex(indices);
    if (!sum)
        throw InterpretError(__FILE__, __LINE__, InterpretError::Expression, "index outside the root");
    return *sum;
}

std::optional<uint64_t> IType::checkedLinearIndex(const Indices& indices) const {
    const size_t n = m_dimensions.size();
    const size_t k = std::min(indices.size(), n);
    uint64_t sum = 0;
    uint64_t stride = 1;
    for (size_t d = n; d >= 1; --d) {
        uint64_t term = 0;
        if (d <= k && (__builtin_mul_overflow(stride, uint64_t(indices[d - 1]), &term) ||
                       __builtin_add_overflow(sum, term, &sum)))
            return std::nullopt;
        // The stride past the outermost dimension is never used; it may exceed 64 bits harmlessly.
        if (d > 1 && __builtin_mul_overflow(stride, uint64_t(m_dimensions[d - 1]), &stride))
            return std::nullopt;
    }
    return sum;
}

ElementaryType::ElementaryType(std::string name, Dimensions dimensions, uint32_t offset, uint32_t size,
                               uint32_t kind, uint32_t byteOrder)
    : IType(std::move(name), std::move(dimensions), offset, size, byteOrder), m_kind(kind) {}

const std::vector<ITypePtr>& ElementaryType::members() const {
    static const std::vector<ITypePtr> none;
    return none;
}

StructType::StructType(std::string name, Dimensions dimensions, uint32_t offset, uint32_t size,
                       uint32_t byteOrder, std::vector<ITypePtr> members)
    : IType(std::move(name), std::move(dimensions), offset, size, byteOrder), m_members(std::move(members)) {}

} // namespace kvel
