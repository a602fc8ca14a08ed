#include "kvel/kvel_shared_ptr.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace kvel {

void Mutex::lock() {
    try {
        m_mutex.lock();
    } catch (const std::system_error&) {
        throw std::runtime_error("Cannot acquire mutex.");
    }
}

void Mutex::unlock() {
    m_mutex.unlock();
}

namespace detail {

void assertionFailed(const char* expression, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: Assertion failed: %s\n", file, line, expression);
    std::fflush(stderr);
    std::abort();
}

} // namespace detail
} // namespace kvel
