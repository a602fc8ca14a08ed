#include "tools/kvelc/kvelc_layout.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace kvelc {

namespace {

struct Elementary {
    const char* keyword;
    ElementKind kind;
    uint32_t size;
};

constexpr Elementary kElementary[] = {
    {"i8", ElementKind::Signed, 1},    {"i16", ElementKind::Signed, 2},   {"i32", ElementKind::Signed, 4},
    {"i64", ElementKind::Signed, 8},   {"u8", ElementKind::Unsigned, 1},  {"u16", ElementKind::Unsigned, 2},
    {"u32", ElementKind::Unsigned, 4}, {"u64", ElementKind::Unsigned, 8}, {"f32", ElementKind::Float, 4},
    {"f64", ElementKind::Float, 8},
};

const Elementary* findElementary(const std::string& name) {
    for (const Elementary& e : kElementary) {
        if (name == e.keyword) {
            return &e;
        }
    }
    return nullptr;
}

bool isReservedWord(const std::string& name) {
    static const std::set<std::string> words{"include", "struct", "output",        "reserve",
                                             "size",    "as",     "little_endian", "big_endian"};
    return findElementary(name) != nullptr || words.count(name) != 0;
}

std::string byteRange(uint32_t begin, uint32_t end) {
    return "bytes " + std::to_string(begin) + ".." + std::to_string(end - 1);
}

std::string memberLabel(const std::string& name) {
    return name.empty() ? "a reserve" : "'" + name + "'";
}

} // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return text.str();
}

DescriptionSet::DescriptionSet(FileReader reader) : m_reader(std::move(reader)) {}

void DescriptionSet::addFile(const std::string& path) {
    const std::optional<std::string> text = m_reader(path);
    if (!text) {
        throw SourceError(SourceLocation{path, 0, 0}, "cannot read the file");
    }
    addText(path, *text);
}

void DescriptionSet::addText(const std::string& fileName, const std::string& text) {
    std::error_code ec;
    const std::string key = std::filesystem::weakly_canonical(fileName, ec).string();
    if (!m_files.insert(ec ? fileName : key).second) {
        return; // already read through another include
    }
    addUnit(parseSource(fileName, text));
}

void DescriptionSet::addUnit(const SourceUnit& unit) {
    const std::filesystem::path folder = std::filesystem::path(unit.file).parent_path();
    for (const IncludeDecl& inc : unit.includes) {
        const std::filesystem::path target = folder / inc.path;
        const std::optional<std::string> text = m_reader(target.string());
        if (!text) {
            throw SourceError(inc.where, "cannot read the included file \"" + target.string() + "\"");
        }
        addText(target.string(), *text);
    }
    for (const StructDecl& s : unit.structs) {
        layoutStruct(s);
    }
    for (const OutputDecl& o : unit.outputs) {
        addOutput(o);
    }
}

void DescriptionSet::layoutStruct(const StructDecl& decl) {
    if (isReservedWord(decl.name)) {
        throw SourceError(decl.where, "'" + decl.name + "' is a keyword and cannot name a structure");
    }
    if (const auto it = m_structs.find(decl.name); it != m_structs.end()) {
        throw SourceError(decl.where, "structure '" + decl.name + "' is already declared at " +
                                          it->second.where.toString());
    }

    LaidStruct laid;
    laid.where = decl.where;
    uint32_t cursor = 0;
    uint32_t floor = 0;
    if (!decl.base.empty()) {
        const auto base = m_structs.find(decl.base);
        if (base == m_structs.end()) {
            throw SourceError(decl.where, "structure '" + decl.name + "' extends '" + decl.base +
                                              "', which is not declared before it");
        }
        laid.members = base->second.members;
        laid.nodeCount = base->second.nodeCount;
        cursor = laid.members.empty() ? 0 : laid.members.back().end;
        floor = base->second.size;
        if (decl.size && *decl.size < floor) {
            throw SourceError(decl.where, "declared size " + std::to_string(*decl.size) + " of '" +
                                              decl.name + "' is smaller than its base '" + decl.base + "' (" +
                                              std::to_string(floor) + " bytes)");
        }
    }

    for (const MemberDecl& m : decl.members) {
        LaidMember lm;
        lm.where = m.where;
        lm.name = m.name;
        uint64_t bytes = 0;
        if (m.isReserve) {
            lm.kind = ElementKind::Unsigned;
            lm.elementSize = 1;
            bytes = m.reserveBytes;
        } else {
            if (isReservedWord(m.name)) {
                throw SourceError(m.where, "'" + m.name + "' is a keyword and cannot name a member");
            }
            for (const LaidMember& other : laid.members) {
                if (other.name == m.name) {
                    throw SourceError(m.where, "member '" + m.name + "' is already declared at " +
                                                   other.where.toString());
                }
            }
            if (const Elementary* e = findElementary(m.typeName)) {
                lm.kind = e->kind;
                lm.elementSize = e->size;
            } else if (const auto s = m_structs.find(m.typeName); s != m_structs.end()) {
                lm.kind = ElementKind::Struct;
                lm.elementSize = s->second.size;
                lm.structName = m.typeName;
                laid.nodeCount += s->second.nodeCount;
            } else if (m.typeName == decl.name) {
                throw SourceError(m.where, "structure '" + decl.name + "' cannot contain itself");
            } else {
                throw SourceError(m.where,
                                  "unknown type '" + m.typeName +
                                      "' (elementary types are i8, i16, i32, i64, u8, u16, u32, u64, "
                                      "f32, f64; structures must be declared before use)");
            }
            laid.nodeCount += 1;
            if (laid.nodeCount > MaxNodes) {
                throw SourceError(m.where, "structure '" + decl.name + "' grows beyond " +
                                               std::to_string(MaxNodes) + " members in all");
            }
            lm.dims = m.dims;
            bytes = lm.elementSize;
            for (const uint32_t extent : m.dims) {
                bytes *= extent;
                if (bytes > std::numeric_limits<uint32_t>::max()) {
                    break;
                }
            }
        }
        const uint64_t start = m.at ? *m.at : cursor;
        const uint64_t end = start + bytes;
        if (start < cursor) {
            const LaidMember& prev = laid.members.back();
            throw SourceError(m.where, memberLabel(m.name) + " at offset " + std::to_string(start) +
                                           " overlaps " + memberLabel(prev.name) + " (" +
                                           byteRange(prev.offset, prev.end) + ")");
        }
        if (end > std::numeric_limits<uint32_t>::max()) {
            throw SourceError(m.where, memberLabel(m.name) + " ends beyond 4 GiB");
        }
        if (decl.size && end > *decl.size) {
            throw SourceError(m.where, memberLabel(m.name) + " (" +
                                           byteRange(uint32_t(start), uint32_t(end)) +
                                           ") lies outside the declared size " + std::to_string(*decl.size) +
                                           " of '" + decl.name + "'");
        }
        lm.offset = static_cast<uint32_t>(start);
        lm.end = static_cast<uint32_t>(end);
        cursor = lm.end;
        laid.members.push_back(std::move(lm));
    }

    laid.size = decl.size ? *decl.size : std::max(floor, cursor);
    // Reserves only shape the layout; descriptions list named members, so one is needed.
    bool named = false;
    for (const LaidMember& m : laid.members) {
        named = named || !m.name.empty();
    }
    if (!named) {
        throw SourceError(decl.where, "structure '" + decl.name + "' has no named member");
    }
    m_structs.emplace(decl.name, std::move(laid));
}

void DescriptionSet::addOutput(const OutputDecl& decl) {
    const auto s = m_structs.find(decl.structName);
    if (s == m_structs.end()) {
        throw SourceError(decl.where, "output of unknown structure '" + decl.structName + "'");
    }
    for (const std::string& name : decl.names) {
        if (const auto it = m_outputs.find(name); it != m_outputs.end()) {
            throw SourceError(decl.where, "output \"" + name + "\" is already declared at " +
                                              it->second.where.toString());
        }
        m_outputs.emplace(name, decl);
    }
}

std::vector<std::string> DescriptionSet::outputNames() const {
    std::vector<std::string> names;
    for (const auto& entry : m_outputs) {
        names.push_back(entry.first);
    }
    return names;
}

std::vector<Node> DescriptionSet::instantiate(const LaidStruct& s, uint32_t base) const {
    std::vector<Node> nodes;
    for (const LaidMember& m : s.members) {
        if (m.name.empty()) {
            continue;
        }
        Node n;
        n.name = m.name;
        n.dims = m.dims;
        n.offset = base + m.offset;
        n.size = m.elementSize;
        n.kind = m.kind;
        if (m.kind == ElementKind::Struct) {
            n.members = instantiate(m_structs.at(m.structName), n.offset);
        }
        nodes.push_back(std::move(n));
    }
    return nodes;
}

Description DescriptionSet::build(const std::string& outputName) const {
    const OutputDecl& decl = m_outputs.at(outputName);
    const LaidStruct& s = m_structs.at(decl.structName);
    Description d;
    d.name = outputName;
    d.byteOrder = decl.byteOrder;
    d.root.name = decl.rootName;
    d.root.size = s.size;
    d.root.kind = ElementKind::Struct;
    d.root.members = instantiate(s, 0);
    return d;
}

} // namespace kvelc
