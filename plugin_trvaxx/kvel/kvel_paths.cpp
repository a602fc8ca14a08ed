// Path resolution: a member path into the addressed node, byte offset and element count, with
// every step of the arithmetic checked against overflow.

#include "kvel/kvel_internal.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace kvel {
using namespace detail;

namespace {

struct Component {
    std::string_view name;
    Indices indices;
};

bool parseIndex(std::string_view piece, uint32_t& value) {
    // "<decimal>]" or "<decimal>"; the closing bracket is optional.
    if (!piece.empty() && piece.back() == ']')
        piece.remove_suffix(1);
    if (piece.empty() || piece.size() > 10)
        return false;
    uint64_t number = 0;
    for (char c : piece) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + uint64_t(c - '0');
    }
    if (number > 0xFFFFFFFFu)
        return false;
    value = uint32_t(number);
    return true;
}

std::vector<Component> splitPath(std::string_view path) {
    std::vector<Component> components;
    size_t start = 0;
    for (;;) {
        const size_t dot = path.find('.', start);
        std::string_view text =
            path.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (!text.empty() && text.front() == '[')
            throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
        Component component;
        const size_t bracket = text.find('[');
        component.name = text.substr(0, bracket);
        size_t pos = bracket;
        while (pos != std::string_view::npos) {
            const size_t next = text.find('[', pos + 1);
            const std::string_view piece = text.substr(
                pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1);
            uint32_t index = 0;
            if (!parseIndex(piece, index))
                throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
            component.indices.push_back(index);
            pos = next;
        }
        components.push_back(std::move(component));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return components;
}

bool indicesFit(const IType& node, const Indices& indices, bool allRequired) {
    const Dimensions& dims = node.dimensions();
    if (indices.size() > dims.size())
        return false;
    if (allRequired && indices.size() != dims.size())
        return false;
    for (size_t i = 0; i < indices.size(); ++i)
        if (indices[i] >= dims[i])
            return false;
    return true;
}

// Walks path from root. Offsets in a description are absolute, so only the index contributions of
// the components are summed, plus the final node's own offset.
} // namespace

Resolved detail::resolve(const IType* root, std::string_view path, Purpose purpose) {
    if (!root)
        throw KVEL_INTERPRET_ERROR(InterpretError::NullPointer);
    Resolved result;
    const IType* node = root;
    Indices lastIndices;
    uint64_t running = 0;
    if (!path.empty()) {
        const std::vector<Component> components = splitPath(path);
        auto fail = [&](const IType& at, const Indices& indices) -> InterpretError {
            if (purpose == Purpose::TypeQuery && indices.size() > at.dimensions().size())
                return KVEL_INTERPRET_ERROR(InterpretError::Expression,
                                            "Referenced dimension does not exist");
            return KVEL_INTERPRET_ERROR(InterpretError::Expression, std::string(path));
        };
        const Component& first = components.front();
        const bool rootIsLast = components.size() == 1;
        if (first.name != root->name() || !indicesFit(*root, first.indices, !rootIsLast))
            throw fail(*root, first.indices);
        // Hostile extents can push index arithmetic past 64 bits; such a path lies outside the root.
        auto addIndex = [&](const IType& at, const Indices& indices) {
            const std::optional<uint64_t> index = at.checkedLinearIndex(indices);
            uint64_t bytes = 0;
            if (!index || __builtin_mul_overflow(*index, uint64_t(at.size()), &bytes) ||
                __builtin_add_overflow(running, bytes, &running))
                throw outsideRoot(path);
        };
        addIndex(*root, first.indices);
        lastIndices = first.indices;
        for (size_t i = 1; i < components.size(); ++i) {
            const Component& component = components[i];
            const IType* member = nullptr;
            for (const ITypePtr& candidate : node->members())
                if (candidate && candidate->name() == component.name) {
                    member = candidate.get();
                    break;
                }
            const bool isLast = i + 1 == components.size();
            if (!member)
                throw fail(*node, {});
            if (!indicesFit(*member, component.indices, !isLast))
                throw fail(*member, component.indices);
            addIndex(*member, component.indices);
            node = member;
            lastIndices = component.indices;
        }
    }
    result.node = node;
    if (__builtin_add_overflow(uint64_t(node->offset()), running, &result.byteOffset))
        throw outsideRoot(path);
    const Dimensions& dims = node->dimensions();
    result.uncovered.assign(dims.begin() + std::min(lastIndices.size(), dims.size()), dims.end());
    for (uint32_t extent : result.uncovered)
        if (__builtin_mul_overflow(result.elementCount, uint64_t(extent), &result.elementCount))
            throw outsideRoot(path);
    return result;
}

PathType typeOfPath(const ITypePtr& root, std::string_view path) {
    const Resolved resolved = resolve(root.get(), path, Purpose::TypeQuery);
    PathType result;
    result.code = typeCodeOf(*resolved.node);
    result.uncoveredDimensions = resolved.uncovered;
    return result;
}

} // namespace kvel
