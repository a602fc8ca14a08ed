// Member paths against a description: input is one length byte N, N bytes of path, then a
// description container (a built-in parameter-block-like tree when it does not parse).

#include "kvel/kvel_interpret.h"

#include <string>
#include <vector>

namespace {

kvel::ITypePtr builtInTree() {
    using namespace kvel;
    auto e = [](const char* n, Dimensions d, uint32_t o, uint32_t s, uint32_t k) {
        return ITypePtr(make_kvel_shared<ElementaryType>(n, std::move(d), o, s, k, BigEndian));
    };
    auto root = make_kvel_shared<StructType>("Root", Dimensions{}, 0, 160, BigEndian);
    root->addMember(e("id", {21}, 0, 1, KindSigned));
    root->addMember(e("m", {4, 3}, 24, 4, KindSigned));
    root->addMember(e("f", {2}, 72, 8, KindFloat));
    auto object = make_kvel_shared<StructType>("objectList", Dimensions{4}, 88, 16, BigEndian);
    object->addMember(e("x1", {}, 88, 4, KindFloat));
    object->addMember(e("v", {3}, 92, 2, KindUnsigned));
    root->addMember(object);
    return root;
}

template <class T>
void tryRead(const kvel::ITypePtr& root, const std::string& path, std::vector<uint8_t>& block) {
    try {
        const kvel::AccessorPtr accessor = kvel::resolveAccessor(root, path, kvel::NativeTypeCode<T>::value);
        std::vector<T> values(accessor->elementCount);
        kvel::read<T>(accessor, values.data(), accessor->elementCount, block.data(), block.size());
        kvel::write<T>(accessor, values.data(), accessor->elementCount, block.data(), block.size());
    } catch (const kvel::InterpretError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const kvel::ITypePtr fallback = builtInTree();
    if (size < 1)
        return 0;
    const size_t pathLength = std::min<size_t>(data[0], size - 1);
    const std::string path(reinterpret_cast<const char*>(data + 1), pathLength);
    kvel::ITypePtr root;
    try {
        root = kvel::parse(data + 1 + pathLength, size - 1 - pathLength);
    } catch (const kvel::ParseError&) {
    }
    if (!root || root->size() > (1u << 20))
        root = fallback;
    std::vector<uint8_t> block(root->size());
    tryRead<int8_t>(root, path, block);
    tryRead<int16_t>(root, path, block);
    tryRead<int32_t>(root, path, block);
    tryRead<int64_t>(root, path, block);
    tryRead<uint8_t>(root, path, block);
    tryRead<uint16_t>(root, path, block);
    tryRead<uint32_t>(root, path, block);
    tryRead<uint64_t>(root, path, block);
    tryRead<float>(root, path, block);
    tryRead<double>(root, path, block);
    try {
        kvel::typeOfPath(root, path);
        kvel::memberPaths(root, path, 1);
        kvel::copy(root, path, block.data(), block.size(), root, path, block.data(), block.size());
    } catch (const kvel::InterpretError&) {
    }
    return 0;
}
