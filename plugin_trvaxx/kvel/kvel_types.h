#pragma once

// Type tree of a kvel description: one node per structure or elementary member.
//
// Building a tree from outside the parser (for example in a description compiler):
//
//   using namespace kvel;
//   auto root = make_kvel_shared<StructType>("KP_CPARType", Dimensions{}, 0, 40, BigEndian);
//   root->addMember(make_kvel_shared<ElementaryType>("BlockIdName", Dimensions{21}, 0, 1,
//                                                    KindSigned, BigEndian));
//   root->addMember(make_kvel_shared<ElementaryType>("BlockVersion", Dimensions{3}, 21, 1,
//                                                    KindUnsigned, BigEndian));
//   ...
//   ITypePtr tree = root;                        // ready for kvel::write() and the interpreter
//
// Offsets are absolute: the byte offset of a member's first element from the start of the root's
// data with every enclosing array at element 0 (never relative to the parent). Size is the byte
// size of one element (one scalar or one structure element). Members should carry the byte order
// of the root: the container stores the byte order only at the root and every member inherits it.
// A tree must not be modified once it is handed to the writer, the interpreter or another thread.

#include "kvel/kvel_shared_ptr.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvel {

enum ByteOrder : uint32_t { LittleEndian = 0, BigEndian = 1, ByteOrderUnset = 2 };

// Value of IType::typeKind(): the element kind of ElementaryType, or KindStruct.
enum Kind : uint32_t { KindSigned = 0, KindUnsigned = 1, KindFloat = 2, KindStruct = 3 };

class IType;
using ITypePtr = kvel_shared_ptr<IType>;
using Dimensions = std::vector<uint32_t>;
using Indices = std::vector<uint32_t>;

class IType {
public:
    IType(std::string name, Dimensions dimensions, uint32_t offset, uint32_t size, uint32_t byteOrder);
    virtual ~IType();
    IType(const IType&) = delete;
    IType& operator=(const IType&) = delete;

    // Element kind (KindSigned, KindUnsigned, KindFloat) or KindStruct.
    virtual uint32_t typeKind() const = 0;
    // Member nodes in stream order; empty for elementary nodes.
    virtual const std::vector<ITypePtr>& members() const = 0;

    const std::string& name() const { return m_name; }
    const Dimensions& dimensions() const { return m_dimensions; }
    uint32_t offset() const { return m_offset; }
    uint32_t size() const { return m_size; }
    uint32_t byteOrder() const { return m_byteOrder; }

    // Product of all extents, 1 for a scalar; UINT64_MAX when the product does not fit 64 bits.
    uint64_t elementCount() const;
    // Row-major element offset of indices (outermost first); missing trailing indices count as 0.
    // Throws InterpretError code 3 when there are more indices than dimensions, code 2 when the
    // offset does not fit 64 bits.
    uint64_t linearIndex(const Indices& indices) const;
    // The same without the dimension check (extra indices are ignored); empty on overflow.
    std::optional<uint64_t> checkedLinearIndex(const Indices& indices) const;

private:
    std::string m_name;
    Dimensions m_dimensions;
    uint32_t m_offset;
    uint32_t m_size;
    uint32_t m_byteOrder;
};

class ElementaryType : public IType {
public:
    // kind: KindSigned, KindUnsigned or KindFloat.
    ElementaryType(std::string name, Dimensions dimensions, uint32_t offset, uint32_t size, uint32_t kind,
                   uint32_t byteOrder);
    uint32_t typeKind() const override { return m_kind; }
    const std::vector<ITypePtr>& members() const override;
    uint32_t kind() const { return m_kind; }

private:
    uint32_t m_kind;
};

class StructType : public IType {
public:
    StructType(std::string name, Dimensions dimensions, uint32_t offset, uint32_t size, uint32_t byteOrder,
               std::vector<ITypePtr> members = {});
    uint32_t typeKind() const override { return KindStruct; }
    const std::vector<ITypePtr>& members() const override { return m_members; }
    // For builders only, before the tree is shared.
    void addMember(ITypePtr member) { m_members.push_back(std::move(member)); }

private:
    std::vector<ITypePtr> m_members;
};

} // namespace kvel
