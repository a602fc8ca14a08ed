// Reading of description sources: the text format that kvelc compiles into kvel containers.
//
// A source declares structures (C-like member listings, optionally extending an earlier
// structure) and outputs (which structure becomes which description, under which root name and
// byte order). See plugin_trvaxx/resources/README.md for the format.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvelc {

// Where something was written: file, line and column, all for messages.
struct SourceLocation {
    std::string file;
    int line = 0;
    int column = 0;

    std::string toString() const;
};

// A refused source. what() reads "file:line:column: error: message", as compilers print it.
class SourceError : public std::runtime_error {
public:
    SourceError(const SourceLocation& where, const std::string& message);
    const SourceLocation& where() const { return m_where; }
    const std::string& message() const { return m_message; }

private:
    SourceLocation m_where;
    std::string m_message;
};

struct MemberDecl {
    SourceLocation where;
    bool isReserve = false;     // "reserve N;": N unnamed bytes
    std::string typeName;       // elementary type keyword or structure name
    std::string name;           // empty for a reserve
    std::vector<uint32_t> dims; // outermost first
    std::optional<uint32_t> at; // "@ N": offset from the structure's start
    uint32_t reserveBytes = 0;
};

struct StructDecl {
    SourceLocation where;
    std::string name;
    std::string base;             // empty when the structure extends nothing
    std::optional<uint32_t> size; // declared total size
    std::vector<MemberDecl> members;
};

enum class ByteOrder { Little, Big };

struct OutputDecl {
    SourceLocation where;
    std::vector<std::string> names; // output file stems, e.g. "DSP_CPAR_OD_3_4"
    std::string structName;
    std::string rootName; // the root record's name in the description
    ByteOrder byteOrder = ByteOrder::Little;
};

struct IncludeDecl {
    SourceLocation where;
    std::string path; // as written, relative to the including file
};

// One source file, its statements in the order written.
struct SourceUnit {
    std::string file;
    std::vector<IncludeDecl> includes;
    std::vector<StructDecl> structs;
    std::vector<OutputDecl> outputs;
};

// Parses one source text; throws SourceError at the first fault.
SourceUnit parseSource(const std::string& fileName, const std::string& text);

} // namespace kvelc
