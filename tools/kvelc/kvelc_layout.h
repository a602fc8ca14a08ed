// Layout of description sources: offsets and sizes computed from the declared order and types.
#pragma once

#include "tools/kvelc/kvelc_source.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kvelc {

// Element kinds with the numbering of the kvel type tree (3 = structure).
enum class ElementKind : uint32_t { Signed = 0, Unsigned = 1, Float = 2, Struct = 3 };

// One node of a laid-out description. Offsets are absolute from the start of the root's data,
// taken with every enclosing array at element 0, as kvel descriptions store them.
struct Node {
    std::string name;
    std::vector<uint32_t> dims;
    uint32_t offset = 0;
    uint32_t size = 0; // bytes of one element
    ElementKind kind = ElementKind::Struct;
    std::vector<Node> members;
};

struct Description {
    std::string name; // output name, e.g. "DSP_CPAR_OD_3_4"
    ByteOrder byteOrder = ByteOrder::Little;
    Node root;
};

// Reads a whole file; nullopt when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;
std::optional<std::string> readWholeFile(const std::string& path);

// Every structure and output of a set of source files (one file and what it includes).
// Structures are laid out as they are declared, so every fault is reported at its place.
class DescriptionSet {
public:
    // Upper bound of nodes in one structure tree, against sources that nest without end.
    static constexpr uint64_t MaxNodes = 100000;

    explicit DescriptionSet(FileReader reader = readWholeFile);

    // Reads and adds one file and, first, the files it includes (each file once).
    void addFile(const std::string& path);
    // Adds one source text; its includes are resolved relative to the file name's folder.
    void addText(const std::string& fileName, const std::string& text);

    std::vector<std::string> outputNames() const;
    bool hasOutput(const std::string& name) const { return m_outputs.count(name) != 0; }
    // The laid-out description of one output; throws std::out_of_range for an unknown name.
    Description build(const std::string& outputName) const;

private:
    struct LaidMember {
        std::string name; // empty for a reserve
        ElementKind kind = ElementKind::Struct;
        uint32_t elementSize = 0;
        std::vector<uint32_t> dims;
        uint32_t offset = 0; // from the structure's start
        uint32_t end = 0;    // one past the last byte
        std::string structName;
        SourceLocation where;
    };
    struct LaidStruct {
        SourceLocation where;
        uint32_t size = 0;
        uint64_t nodeCount = 1;
        std::vector<LaidMember> members;
    };

    void addUnit(const SourceUnit& unit);
    void layoutStruct(const StructDecl& decl);
    void addOutput(const OutputDecl& decl);
    std::vector<Node> instantiate(const LaidStruct& s, uint32_t base) const;

    FileReader m_reader;
    std::set<std::string> m_files;
    std::map<std::string, LaidStruct> m_structs;
    std::map<std::string, OutputDecl> m_outputs; // one entry per output name
};

} // namespace kvelc
