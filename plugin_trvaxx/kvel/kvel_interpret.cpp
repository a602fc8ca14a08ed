// The interpreter's error type, type codes, version and library lock. The interpreter itself is
// split by job: kvel_descriptioncache, kvel_paths, kvel_accessors, kvel_typedaccess,
// kvel_enumerate and kvel_copy.

#include "kvel/kvel_internal.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace kvel {

namespace {

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

const char* codeText(int code) {
    switch (code) {
    case InterpretError::NullPointer:
        return "Received null pointer.";
    case InterpretError::Expression:
        return "Error while interpreting expression:";
    case InterpretError::SizeMismatch:
        return "Size mismatch: ";
    default:
        return "Interpret Error, unknown error.";
    }
}

} // namespace

std::mutex& detail::libraryLock() {
    static std::mutex lock;
    return lock;
}

InterpretError detail::sizeMismatch(uint64_t expected, uint64_t got) {
    char detail[128];
    std::snprintf(detail, sizeof detail, "expected %d bytes (from kvel description), got %d bytes",
                  int(expected), int(got));
    return KVEL_INTERPRET_ERROR(InterpretError::SizeMismatch, detail);
}

InterpretError detail::outsideRoot(std::string_view path) {
    return KVEL_INTERPRET_ERROR(InterpretError::Expression, std::string(path));
}

InterpretError::InterpretError(const char* sourceFile, int line, int code, std::string detail)
    : m_code(code), m_detail(std::move(detail)) {
    m_text = std::string(baseName(sourceFile)) + " (line " + std::to_string(line) + "): " + codeText(code);
    if (!m_detail.empty())
        m_text += "\"" + m_detail + "\"";
}

int typeCodeOf(const IType& node) {
    const uint32_t kind = node.typeKind();
    const uint32_t size = node.size();
    switch (kind) {
    case KindSigned:
    case KindUnsigned: {
        const int base = kind == KindSigned ? TC_INT8 : TC_UINT8;
        switch (size) {
        case 1:
            return base;
        case 2:
            return base + 1;
        case 4:
            return base + 2;
        case 8:
            return base + 3;
        default:
            return -1;
        }
    }
    case KindFloat:
        return size == 4 ? TC_FLOAT : size == 8 ? TC_DOUBLE : -1;
    case KindStruct:
        return TC_STRUCT;
    default:
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown, "Unknown type ID");
    }
}

const char* versionString() {
    return "3.3.13";
}

} // namespace kvel
