#include "tools/kvelc/kvelc_emit.h"

#include "kvel/kvel_parse.h"

namespace kvelc {

namespace {

kvel::ITypePtr toNode(const Node& node, uint32_t byteOrder) {
    if (node.kind != ElementKind::Struct) {
        return kvel::make_kvel_shared<kvel::ElementaryType>(node.name, node.dims, node.offset, node.size,
                                                            static_cast<uint32_t>(node.kind), byteOrder);
    }
    auto structure =
        kvel::make_kvel_shared<kvel::StructType>(node.name, node.dims, node.offset, node.size, byteOrder);
    for (const Node& member : node.members) {
        structure->addMember(toNode(member, byteOrder));
    }
    return structure;
}

} // namespace

kvel::ITypePtr toTypeTree(const Description& description) {
    const uint32_t order = description.byteOrder == ByteOrder::Big ? kvel::BigEndian : kvel::LittleEndian;
    return toNode(description.root, order);
}

std::vector<uint8_t> compile(const Description& description) {
    return kvel::write(toTypeTree(description));
}

} // namespace kvelc
