// Makes fuzz seeds from compiled descriptions:
//   kvel_fuzz_seeds OUT_DIR FILE...
// writes OUT_DIR/fuzz_kvel_container/<name> (the description itself), OUT_DIR/fuzz_kvel_chunkstream/
// <name> (one chunk stream of the description and a zeroed data block) and OUT_DIR/fuzz_kvel_path/
// <name> (the root's first member path followed by the description).

#include "kvel/kvel_interpret.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::vector<char>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: kvel_fuzz_seeds OUT_DIR FILE...\n";
        return 2;
    }
    const fs::path out = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<char> description((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
        const std::string name = fs::path(argv[i]).filename().string();
        writeFile(out / "fuzz_kvel_container" / name, description);

        kvel::ITypePtr root;
        try {
            root = kvel::parse(description.data(), description.size());
        } catch (const kvel::ParseError& e) {
            std::cerr << argv[i] << ": " << e.what() << "\n";
            continue;
        }
        if (!root)
            continue;
        const std::vector<char> block(root->size());
        const std::vector<KvelChunk> chunks = {KvelChunk(description.data(), uint32_t(description.size()),
                                                         block.data(), uint32_t(block.size()), 8)};
        std::vector<char> stream(kvel::chunkStreamSize(chunks));
        kvel::writeChunkStream(chunks, stream.data(), stream.size());
        writeFile(out / "fuzz_kvel_chunkstream" / name, stream);

        std::string path = root->name();
        if (!root->members().empty())
            path += "." + root->members().front()->name();
        path.resize(std::min<size_t>(path.size(), 255));
        std::vector<char> pathSeed{char(path.size())};
        pathSeed.insert(pathSeed.end(), path.begin(), path.end());
        pathSeed.insert(pathSeed.end(), description.begin(), description.end());
        writeFile(out / "fuzz_kvel_path" / name, pathSeed);
    }
    return 0;
}
