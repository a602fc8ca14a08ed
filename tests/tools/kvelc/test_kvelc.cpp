// kvelc: the source format, the layout it computes, the faults it refuses, and the executable the
// build runs.
#include "tools/kvelc/kvelc_emit.h"
#include "tools/kvelc/kvelc_layout.h"

#include "kvel/kvel_parse.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using kvelc::Description;
using kvelc::DescriptionSet;
using kvelc::Node;

namespace {

// A set of in-memory source files, so include resolution needs no disk.
DescriptionSet setWith(const std::map<std::string, std::string>& files, const std::string& main) {
    DescriptionSet set([files](const std::string& path) -> std::optional<std::string> {
        const auto it = files.find(std::filesystem::path(path).lexically_normal().string());
        return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
    });
    set.addFile(main);
    return set;
}

Description build(const std::string& text, const std::string& output = "out") {
    return setWith({{"main.kvs", text}}, "main.kvs").build(output);
}

// A whole layout in one line: name:kind@offset+size, array extents, then the members in braces.
std::string layout(const Node& n) {
    std::string text =
        n.name + ":" + "iufs"[int(n.kind)] + "@" + std::to_string(n.offset) + "+" + std::to_string(n.size);
    for (uint32_t d : n.dims)
        text += "[" + std::to_string(d) + "]";
    for (std::size_t i = 0; i < n.members.size(); ++i)
        text += (i ? " " : "{") + layout(n.members[i]) + (i + 1 == n.members.size() ? "}" : "");
    return text;
}

} // namespace

// Packing in order, placement and declared size; extensions continuing after their base and using
// its reserved tail; nested structures with absolute offsets and arrays laid out at element zero.
TEST(KvelcLayout, PacksPlacesExtendsAndNests) {
    const DescriptionSet set = setWith({{"main.kvs", R"(
        struct S size 24 {   // 24 bytes, 4 of them a reserved tail
            i8  name[3];
            u16 port;        /* right after: packed, offset 3 */
            f32 value @ 8;
            reserve 2;       // no member
            u32 grid[2][1];  // offset 14
        }
        struct V1 size 8 { u16 a; u8 b; }
        struct V2 : V1 { u8 c; }            // inside V1's tail: size stays 8
        struct V3 : V2 size 12 { f32 d; }   // 4..7, then 4 bytes reserved
        struct V4 : V3 { u8 e @ 12; }       // beyond: size grows to 13
        struct Obj { i32 id; f32 x; }
        struct List { u32 count; Obj objects[20]; f32 tail[3]; }
        struct Top { u8 head[4]; List list; }
        output "s" = S as ROOT big_endian;
        output "v2" = V2 as R little_endian;
        output "v3" = V3 as R little_endian;
        output "v4" = V4 as R little_endian;
        output "top" = Top as Top little_endian;)"}},
                                       "main.kvs");
    const std::pair<const char*, const char*> cases[] = {
        {"s", "ROOT:s@0+24{name:i@0+1[3] port:u@3+2 value:f@8+4 grid:u@14+4[2][1]}"},
        {"v2", "R:s@0+8{a:u@0+2 b:u@2+1 c:u@3+1}"},
        {"v3", "R:s@0+12{a:u@0+2 b:u@2+1 c:u@3+1 d:f@4+4}"},
        {"v4", "R:s@0+13{a:u@0+2 b:u@2+1 c:u@3+1 d:f@4+4 e:u@12+1}"},
        {"top", "Top:s@0+180{head:u@0+1[4] list:s@4+176{count:u@4+4 "
                "objects:s@8+8[20]{id:i@8+4 x:f@12+4} tail:f@168+4[3]}}"},
    };
    for (const auto& [output, expected] : cases)
        EXPECT_EQ(layout(set.build(output).root), expected);
    EXPECT_EQ(set.build("s").byteOrder, kvelc::ByteOrder::Big);
}

// The written container parses back into the same tree, byte order included.
TEST(KvelcCompile, ContainerParsesBackToTheLaidOutTree) {
    const Description d = build(R"(
        struct Inner { i16 a[2][3]; f64 b; }
        struct S size 64 { u8 flags; Inner inner[2]; u64 big; i64 neg; f32 f; }
        output "out" = S as S_t big_endian;)");
    const std::vector<uint8_t> bytes = kvelc::compile(d);
    ASSERT_EQ(bytes.size() % 4, 0u);
    const kvel::ITypePtr root = kvel::parse(bytes);
    ASSERT_TRUE(root);

    std::function<void(const Node&, const kvel::IType&)> same = [&](const Node& n, const kvel::IType& t) {
        SCOPED_TRACE(n.name);
        EXPECT_EQ(t.name(), n.name);
        EXPECT_EQ(t.dimensions(), n.dims);
        EXPECT_EQ(t.offset(), n.offset);
        EXPECT_EQ(t.size(), n.size);
        EXPECT_EQ(t.byteOrder(), uint32_t(kvel::BigEndian));
        EXPECT_EQ(t.typeKind(), static_cast<uint32_t>(n.kind));
        ASSERT_EQ(t.members().size(), n.members.size());
        for (size_t i = 0; i < n.members.size(); ++i)
            same(n.members[i], *t.members()[i]);
    };
    same(d.root, *root);
}

struct BadSource {
    const char* text;
    int line;
    int column;
    const char* message; // a part of the message
};

TEST(KvelcErrors, FaultsAreRefusedWithTheirPlaceAndAClearReason) {
    const BadSource cases[] = {
        {"struct S { u32 a; u8 b @ 2; }", 1, 19, "'b' at offset 2 overlaps 'a' (bytes 0..3)"},
        {"struct S { u8 a; reserve 4 @ 0; }", 1, 18, "a reserve at offset 0 overlaps 'a'"},
        {"struct S size 6 {\n  u32 a;\n  u32 b;\n}", 3, 3,
         "'b' (bytes 4..7) lies outside the declared size 6"},
        {"struct S { u8 a @ 9; } struct T size 4 { S s; }", 1, 42, "lies outside the declared size 4"},
        {"struct B size 8 { u8 a; }\nstruct D : B size 4 { u8 b; }", 2, 1,
         "smaller than its base 'B' (8 bytes)"},
        {"struct S { u8 a; }\nstruct T : S { u16 a; }", 2, 16,
         "member 'a' is already declared at main.kvs:1:12"},
        {"struct S { u8 a; }\nstruct S { u8 b; }", 2, 1, "structure 'S' is already declared at main.kvs:1:1"},
        {"struct S { float x; }", 1, 12, "unknown type 'float'"},
        {"struct S { S inner; }", 1, 12, "cannot contain itself"},
        {"struct S : Later { u8 a; }", 1, 1, "extends 'Later', which is not declared before it"},
        {"struct S { u8 a[0]; }", 1, 17, "array extent of 'a' must be at least 1"},
        {"struct S { u8 a[65536][65537]; }", 1, 12, "ends beyond 4 GiB"},
        {"struct S { u8 a }", 1, 17, "expected ';', found '}'"},
        {"struct S { u8 a; ", 1, 18, "structure 'S' is not closed"},
        {"struct S { u8 a; } /* open", 1, 20, "comment is not closed"},
        {"output \"x = S as R little_endian;", 1, 8, "string is not closed"},
        {"struct S { u8 a$; }", 1, 16, "unexpected character '$'"},
        {"struct S { u8 a[4294967296]; }", 1, 17, "number too large"},
        {"struct S { u8 a[0x1G]; }", 1, 17, "malformed number '0x1G'"},
        {"struct S { reserve 4; }", 1, 1, "structure 'S' has no named member"},
        {"struct S { u8 size; }", 1, 12, "'size' is a keyword and cannot name a member"},
        {"struct u8 { u8 a; }", 1, 1, "'u8' is a keyword"},
        {"struct S { u8 a; }\noutput \"x\" = T as R little_endian;", 2, 1, "output of unknown structure 'T'"},
        {"struct S { u8 a; }\noutput \"x\" = S as R middle_endian;", 2, 21,
         "expected 'little_endian' or 'big_endian'"},
        {"struct S { u8 a; }\noutput \"x\", \"x\" = S as R big_endian;", 2, 1,
         "output \"x\" is already declared"},
        {"struct S { u8 a; }\noutput \"a/b\" = S as R big_endian;", 2, 8, "may hold only letters"},
        {"struct S { u8 a; }\ninclude \"x.kvs\";", 2, 1, "'include' must come before the first struct"},
        {"include \"missing.kvs\";", 1, 1, "cannot read the included file \"missing.kvs\""},
        {"typedef u8 byte;", 1, 1, "expected 'include', 'struct' or 'output', found 'typedef'"},
    };
    for (const BadSource& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            setWith({{"main.kvs", c.text}}, "main.kvs");
            ADD_FAILURE() << "accepted";
        } catch (const kvelc::SourceError& e) {
            // The place is what the message starts with.
            const std::string prefix =
                "main.kvs:" + std::to_string(c.line) + ":" + std::to_string(c.column) + ": error: ";
            EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
            EXPECT_NE(e.message().find(c.message), std::string::npos) << e.message();
        }
    }
}

TEST(KvelcErrors, DimensionCountAndNestingAreBounded) {
    std::string dims;
    for (int i = 0; i < 256; ++i)
        dims += "[1]";
    EXPECT_THROW(build("struct S { u8 a" + dims + "; }"), kvelc::SourceError);

    // Each level doubles the member count; 17 levels pass the bound long before memory runs out.
    std::string text = "struct L0 { u8 a; u8 b; }\n";
    for (int i = 1; i <= 17; ++i)
        text += "struct L" + std::to_string(i) + " { L" + std::to_string(i - 1) + " a; L" +
                std::to_string(i - 1) + " b; }\n";
    try {
        build(text);
        ADD_FAILURE() << "accepted";
    } catch (const kvelc::SourceError& e) {
        EXPECT_NE(e.message().find("grows beyond 100000 members"), std::string::npos) << e.what();
    }
}

// The executable as the build runs it: only the named outputs are written; a bad source, an
// undeclared output or a missing file fail with their reason and write nothing.
TEST(KvelcTool, WritesTheNamedContainersOrFailsWithTheReason) {
    char pattern[] = "/tmp/kvelc_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern, out = dir / "out";
    std::string errors;
    // Writes `source` (if any) to `name` and runs kvelc on it with `outputs`.
    const auto run = [&](const char* name, const char* source, const std::string& outputs = "") {
        if (source)
            std::ofstream(dir / name) << source;
        const std::string command = std::string(KVELC_PATH) + " -o " + out.string() + " " +
                                    (dir / name).string() + outputs + " 2>" + (dir / "stderr.txt").string() +
                                    " >/dev/null";
        const int status = std::system(command.c_str());
        std::stringstream text;
        text << std::ifstream(dir / "stderr.txt").rdbuf();
        errors = text.str();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    EXPECT_EQ(run("ok.kvs", "struct S { u8 a; f32 b; }\noutput \"ONE\", \"TWO\" = S as S_t little_endian;\n",
                  " TWO"),
              0)
        << errors;
    EXPECT_FALSE(std::filesystem::exists(out / "ONE.kvd"));
    std::ifstream in(out / "TWO.kvd", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const kvel::ITypePtr root = kvel::parse(bytes);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name(), "S_t");
    EXPECT_EQ(root->size(), 5u);

    EXPECT_EQ(
        run("bad.kvs", "struct S {\n    u32 a;\n    u8 b @ 1;\n}\noutput \"X\" = S as S little_endian;\n"),
        1);
    EXPECT_NE(errors.find("bad.kvs:3:5: error: 'b' at offset 1 overlaps 'a' (bytes 0..3)"), std::string::npos)
        << errors;
    EXPECT_FALSE(std::filesystem::exists(out / "X.kvd"));
    EXPECT_EQ(run("ok.kvs", nullptr, " Y"), 1);
    EXPECT_NE(errors.find("no output \"Y\" is declared"), std::string::npos) << errors;
    EXPECT_EQ(run("absent.kvs", nullptr), 1);
    EXPECT_NE(errors.find("absent.kvs:0:0: error: cannot read the file"), std::string::npos) << errors;
    std::filesystem::remove_all(dir);
}
