#include "simulator/describedblock.h"

#include <map>

namespace trvsim {

bool DescribedBlock::setDescription(std::vector<uint8_t> container) {
    try {
        kvel::ITypePtr root = kvel::parse(container);
        if (!root) {
            m_error = "the description is empty";
            return false;
        }
        m_root = root;
        m_rootName = root->name();
        m_description = std::move(container);
        m_data.assign(root->size() * root->elementCount(), 0);
        return true;
    } catch (const std::exception& e) {
        m_error = e.what();
        return false;
    }
}

bool DescribedBlock::setRoot(const kvel::ITypePtr& root) {
    try {
        return setDescription(kvel::write(root));
    } catch (const std::exception& e) {
        m_error = e.what();
        return false;
    }
}

std::string DescribedBlock::qualified(const std::string& path) const {
    if (path.empty())
        return m_rootName;
    if (path.compare(0, m_rootName.size(), m_rootName) == 0 &&
        (path.size() == m_rootName.size() || path[m_rootName.size()] == '.' ||
         path[m_rootName.size()] == '['))
        return path;
    return m_rootName + "." + path;
}

bool DescribedBlock::has(const std::string& path) const {
    try {
        return kvel::typeOfPath(m_root, qualified(path)).code >= 0;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<DescribedBlock::Leaf> DescribedBlock::leaves(const std::string& path) const {
    std::vector<Leaf> out;
    if (!m_root)
        return out;
    std::vector<std::string> paths;
    try {
        paths = kvel::memberPaths(m_root, qualified(path), -1);
    } catch (const std::exception&) {
        return out;
    }
    for (const std::string& p : paths) {
        kvel::PathType type;
        try {
            type = kvel::typeOfPath(m_root, p);
        } catch (const std::exception&) {
            continue;
        }
        if (type.code < 0 || type.code == kvel::TC_STRUCT)
            continue;
        uint64_t count = 1;
        for (uint32_t e : type.uncoveredDimensions)
            count *= e;
        const std::size_t dot = p.rfind('.');
        std::string name = dot == std::string::npos ? p : p.substr(dot + 1);
        std::string arrayKey;
        const std::size_t bracket = name.find('[');
        if (bracket != std::string::npos) {
            name.resize(bracket);
            arrayKey = p.substr(0, (dot == std::string::npos ? 0 : dot + 1) + name.size());
        }
        out.push_back({p, name, static_cast<uint32_t>(count), arrayKey});
    }
    return out;
}

int DescribedBlock::fill(const ParameterValues& values, const std::string& path) {
    int written = 0;
    std::vector<double> buffer;
    // A name met several times (array elements listed one by one) takes the following values.
    std::map<std::string, std::size_t> used;
    for (const Leaf& leaf : leaves(path)) {
        const auto it = values.find(leaf.name);
        if (it == values.end())
            continue;
        std::size_t unused = 0;
        std::size_t& first = leaf.arrayKey.empty() ? unused : used[leaf.arrayKey];
        buffer.assign(leaf.count, 0.0);
        for (std::size_t i = 0; i < leaf.count && first + i < it->second.size(); ++i)
            buffer[i] = it->second[first + i];
        first += leaf.count;
        kvel::write<double>(m_root, leaf.path, buffer.data(), leaf.count, m_data.data(), m_data.size());
        ++written;
    }
    return written;
}

ParameterValues DescribedBlock::readAll(const std::string& path) const {
    ParameterValues out;
    for (const Leaf& leaf : leaves(path)) {
        std::vector<double> v(leaf.count);
        kvel::read<double>(m_root, leaf.path, v.data(), leaf.count, m_data.data(), m_data.size());
        auto& dst = out[leaf.name];
        if (leaf.arrayKey.empty())
            dst = std::move(v);
        else
            dst.insert(dst.end(), v.begin(), v.end());
    }
    return out;
}

std::vector<double> textValues(const std::string& text, std::size_t n) {
    std::vector<double> v(n, 0.0);
    for (std::size_t i = 0; i < n && i < text.size(); ++i)
        v[i] = static_cast<unsigned char>(text[i]);
    return v;
}

} // namespace trvsim
