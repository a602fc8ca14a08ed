#include "kvel/kvel_types.h"

#include "kvel/kvel_interpret.h"

#include <string>

namespace kvel {

IType::IType(std::string name, Dimensions dimensions, uint32_t offset, uint32_t size, uint32_t byteOrder)
    : m_name(std::move(name)), m_dimensions(std::move(dimensions)), m_offset(offset), m_size(size),
      m_byteOrder(byteOrder) {}

IType::~IType() = default;

uint64_t IType::elementCount() const {
    uint64_t count = 1;
    for (uint32_t extent : m_dimensions)
        count *= extent;
    return count;
}

uint64_t IType::linearIndex(const Indices& indices) const {
    const size_t n = m_dimensions.size();
    const size_t k = indices.size();
    if (k > n)
        throw InterpretError(__FILE__, __LINE__, InterpretError::SizeMismatch,
                             "index has more dimensions (" + std::to_string(k) +
                                 ") than the actual data type (" + std::to_string(n) + ")");
    uint64_t sum = 0;
    uint64_t stride = 1;
    for (size_t d = n; d >= 1; --d) {
        if (d <= k)
            sum += stride * indices[d - 1];
        stride *= m_dimensions[d - 1];
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
