// kvelc: compiles description sources into kvel description containers.
//
//   kvelc [-o DIR] SOURCE [NAME...]   write DIR/NAME.kvd for the named outputs (all when none named)
//   kvelc --list SOURCE               print the outputs SOURCE declares
//   kvelc --dump SOURCE NAME          print the layout of one output: offset, size, type, path

#include "tools/kvelc/kvelc_emit.h"
#include "tools/kvelc/kvelc_layout.h"

#include "kvel/kvel_parse.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* kUsage = "usage: kvelc [-o DIR] SOURCE [NAME...]\n"
                     "       kvelc --list SOURCE\n"
                     "       kvelc --dump SOURCE NAME\n";

std::string kindText(kvelc::ElementKind kind, uint32_t size) {
    if (kind == kvelc::ElementKind::Struct) {
        return "struct";
    }
    const char* prefix = kind == kvelc::ElementKind::Signed     ? "i"
                         : kind == kvelc::ElementKind::Unsigned ? "u"
                                                                : "f";
    return prefix + std::to_string(size * 8);
}

void dump(const kvelc::Node& node, const std::string& path) {
    std::string dims;
    for (const uint32_t d : node.dims) {
        dims += "[" + std::to_string(d) + "]";
    }
    std::printf("%6u %6u %-6s %s%s\n", node.offset, node.size, kindText(node.kind, node.size).c_str(),
                path.c_str(), dims.c_str());
    for (const kvelc::Node& m : node.members) {
        dump(m, path + "." + m.name);
    }
}

bool writeFile(const std::filesystem::path& target, const std::vector<uint8_t>& bytes) {
    // Written beside the target and renamed, so an interrupted build never leaves half a file.
    const std::filesystem::path partial = target.string() + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(partial, target, ec);
    return !ec;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string outDir = ".";
    std::string mode = "compile";
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) {
            outDir = args[++i];
        } else if (args[i] == "--list" || args[i] == "--dump") {
            mode = args[i].substr(2);
        } else if (args[i] == "-h" || args[i] == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (!args[i].empty() && args[i][0] == '-') {
            std::cerr << "kvelc: unknown option " << args[i] << "\n" << kUsage;
            return 2;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.empty() || (mode == "dump" && positional.size() != 2) ||
        (mode == "list" && positional.size() != 1)) {
        std::cerr << kUsage;
        return 2;
    }

    const std::string& source = positional[0];
    std::vector<std::string> names(positional.begin() + 1, positional.end());
    try {
        kvelc::DescriptionSet set;
        set.addFile(source);
        if (mode == "list") {
            for (const std::string& name : set.outputNames()) {
                std::cout << name << "\n";
            }
            return 0;
        }
        if (names.empty()) {
            names = set.outputNames();
        }
        for (const std::string& name : names) {
            if (!set.hasOutput(name)) {
                std::cerr << source << ": error: no output \"" << name << "\" is declared\n";
                return 1;
            }
        }
        if (mode == "dump") {
            const kvelc::Description d = set.build(names.front());
            dump(d.root, d.root.name);
            return 0;
        }
        std::error_code ec;
        std::filesystem::create_directories(outDir, ec);
        for (const std::string& name : names) {
            const std::vector<uint8_t> bytes = kvelc::compile(set.build(name));
            const std::filesystem::path target = std::filesystem::path(outDir) / (name + ".kvd");
            if (!writeFile(target, bytes)) {
                std::cerr << "kvelc: error: cannot write " << target.string() << "\n";
                return 1;
            }
        }
    } catch (const kvelc::SourceError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    } catch (const kvel::ParseError& e) {
        std::cerr << source << ": error: the kvel writer refused a description: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << source << ": error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
