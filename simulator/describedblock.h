#pragma once
// A raw data block laid out by a kvel description: the description container (as sent or
// embedded), its parsed tree and a data buffer of the root's size. Members are written through
// the interpreter's typed writes, by member path, never by offsets computed here.

#include "simulator/frametruth.h"

#include "kvel/kvel_interpret.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trvsim {

class DescribedBlock {
public:
    DescribedBlock() = default;

    // Takes a description container; false with errorText() when it does not parse.
    bool setDescription(std::vector<uint8_t> container);
    // Takes a tree built in code; its container is made by the kvel writer.
    bool setRoot(const kvel::ITypePtr& root);

    bool isValid() const { return static_cast<bool>(m_root); }
    const std::string& errorText() const { return m_error; }
    const kvel::ITypePtr& root() const { return m_root; }
    const std::string& rootName() const { return m_rootName; }
    const std::vector<uint8_t>& description() const { return m_description; }
    std::vector<uint8_t>& data() { return m_data; }
    const std::vector<uint8_t>& data() const { return m_data; }

    // Accessor for path (root name prepended when relative), or empty when the description has no
    // such member or it does not take T.
    template <class T> kvel::AccessorPtr accessor(const std::string& path) const {
        try {
            return kvel::getAccessor<T>(m_root, qualified(path));
        } catch (const std::exception&) {
            return kvel::AccessorPtr();
        }
    }
    bool has(const std::string& path) const;

    template <class T> void put(const kvel::AccessorPtr& accessor, const T* src, uint32_t count) {
        if (accessor)
            kvel::write<T>(accessor, src, count, m_data.data(), m_data.size());
    }
    template <class T> void put(const kvel::AccessorPtr& accessor, T value) { put(accessor, &value, 1); }

    // The elementary leaves below path (the root when empty): full path, leaf name (last
    // component without indices) and element count.
    struct Leaf {
        std::string path;
        std::string name;
        uint32_t count;
        // Set when the walk lists an array member element by element: the key of the whole
        // array (path without the last component's indices); empty otherwise.
        std::string arrayKey;
    };
    std::vector<Leaf> leaves(const std::string& path = std::string()) const;

    // Writes, for every leaf below path whose name is in values, its values (converted to the
    // member's type; missing elements 0). Returns the number of leaves written.
    int fill(const ParameterValues& values, const std::string& path = std::string());
    // Reads every leaf below path as doubles, by leaf name.
    ParameterValues readAll(const std::string& path = std::string()) const;

    std::string qualified(const std::string& path) const;

private:
    kvel::ITypePtr m_root;
    std::string m_rootName;
    std::vector<uint8_t> m_description;
    std::vector<uint8_t> m_data;
    std::string m_error;
};

// Bytes of a text, cut or padded with NULs to n elements.
std::vector<double> textValues(const std::string& text, std::size_t n);

} // namespace trvsim
