// Enumeration of member paths: the elements of an array and the members of a structure, bounded
// in number.

#include "kvel/kvel_internal.h"

namespace kvel {
using namespace detail;

void detail::checkListSize(uint64_t count) {
    if (count > MAX_LISTED_OBJECTS)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown, "too many addressed objects");
}

namespace {

// Appends "[i][j]..." for every element of dims in row-major order.
void enumerateElements(const std::string& base, const Dimensions& dims, std::vector<std::string>& out) {
    uint64_t total = 1;
    for (uint32_t extent : dims) {
        total *= extent;
        checkListSize(total);
    }
    checkListSize(out.size() + total);
    Indices index(dims.size(), 0);
    for (uint64_t n = 0; n < total; ++n) {
        std::string path = base;
        for (uint32_t i : index)
            path += "[" + std::to_string(i) + "]";
        out.push_back(std::move(path));
        for (size_t d = dims.size(); d-- > 0;) {
            if (++index[d] < dims[d])
                break;
            index[d] = 0;
        }
    }
}

void walk(const IType& node, const std::string& path, int budget, std::vector<std::string>& out) {
    checkListSize(out.size() + 1);
    if (node.typeKind() != KindStruct) {
        if (budget <= 0)
            out.push_back(path);
        return;
    }
    if (budget == 0) {
        out.push_back(path);
        return;
    }
    for (const ITypePtr& member : node.members()) {
        if (!member)
            continue;
        const std::string memberPath = path + "." + member->name();
        const int next = budget - 1;
        if (member->typeKind() == KindStruct && !member->dimensions().empty() && next != 0) {
            std::vector<std::string> elements;
            enumerateElements(memberPath, member->dimensions(), elements);
            for (const std::string& element : elements)
                walk(*member, element, next, out);
        } else {
            walk(*member, memberPath, next, out);
        }
    }
}

} // namespace

std::vector<std::string> memberPaths(const ITypePtr& root, std::string_view path, int depth) {
    const Resolved resolved = resolve(root.get(), path, Purpose::Accessor);
    const std::string base = path.empty() ? root->name() : std::string(path);
    std::vector<std::string> paths;
    if (!resolved.uncovered.empty()) {
        enumerateElements(base, resolved.uncovered, paths);
        if (paths.size() != resolved.elementCount)
            throw KVEL_INTERPRET_ERROR(InterpretError::Unknown,
                                       "Internal Error, number of addressed objects mismatch dimensions");
        return paths;
    }
    if (resolved.node->typeKind() == KindStruct)
        walk(*resolved.node, base, depth, paths);
    else
        paths.push_back(base);
    return paths;
}

} // namespace kvel
