// Description containers: parse; what parses must write, read back equal, and survive a walk of
// every path through the interpreter on a zeroed block.

#include "kvel/kvel_interpret.h"
#include "tests/support/kvel_test_util.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvel::ITypePtr root;
    try {
        root = kvel::parse(data, size);
    } catch (const kvel::ParseError&) {
        return 0;
    }
    if (!root)
        return 0;
    // The writer must accept every tree the parser builds, and the result must read back equal.
    const std::vector<uint8_t> written = kvel::write(root);
    if (!kvel_test::sameTree(*root, *kvel::parse(written)))
        std::abort();

    if (root->size() > (1u << 20))
        return 0;
    std::vector<uint8_t> block(root->size());
    try {
        for (const std::string& leaf : kvel::memberPaths(root, "", -1)) {
            try {
                const kvel::AccessorPtr accessor = kvel::resolveAccessor(root, leaf, kvel::TC_DOUBLE);
                std::vector<double> values(accessor->elementCount);
                kvel::read<double>(accessor, values.data(), accessor->elementCount, block.data(),
                                   block.size());
                kvel::write<double>(accessor, values.data(), accessor->elementCount, block.data(),
                                    block.size());
            } catch (const kvel::InterpretError&) {
            }
        }
    } catch (const kvel::InterpretError&) {
    }
    return 0;
}
