// Turning a laid-out description into a kvel type tree and a description container.
#pragma once

#include "tools/kvelc/kvelc_layout.h"

#include "kvel/kvel_types.h"

#include <cstdint>
#include <vector>

namespace kvelc {

// The kvel type tree of a description; every node carries the root's byte order.
kvel::ITypePtr toTypeTree(const Description& description);

// The version 0x0300 container of a description, made and checked by the kvel writer.
// Throws kvel::ParseError when the writer refuses the tree.
std::vector<uint8_t> compile(const Description& description);

} // namespace kvelc
