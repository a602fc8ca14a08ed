#pragma once

// Reference-counted pointer of the data-description library.
//
// Type nodes, parsed roots and accessors are shared between the receive thread, the GUI thread and
// the CAN threads. The pointer keeps a control block with the count, a destroyer and a mutex of its
// own; the count changes only under that mutex. The pointee is never modified through the pointer
// by the library once published, so readers need no further locking.

#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace kvel {

// Mutex of one control block. Failures of the underlying mutex become std::runtime_error with
// "Cannot create mutex.", "Cannot acquire mutex." or "Cannot release mutex.".
class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock();
    void unlock();

private:
    std::mutex m_mutex;
};

namespace detail {

// Fails hard (message "Assertion failed: <expr>" on stderr, then abort) even in release builds:
// a control block without destroyer would leak or double-free silently.
[[noreturn]] void assertionFailed(const char* expression, const char* file, int line);
#define KVEL_ASSERT(expr) ((expr) ? (void)0 : ::kvel::detail::assertionFailed(#expr, __FILE__, __LINE__))

class ControlBlock {
public:
    using Destroyer = void (*)(void*);
    ControlBlock(void* object, Destroyer destroyer) : m_object(object), m_destroyer(destroyer) {
        KVEL_ASSERT(m_destroyer != 0);
    }
    ControlBlock(const ControlBlock&) = delete;
    ControlBlock& operator=(const ControlBlock&) = delete;

    void addRef() {
        std::lock_guard<Mutex> guard(m_mutex);
        ++m_count;
    }
    // Drops one reference; destroys the object and this block when it was the last one.
    void release() {
        long remaining;
        {
            std::lock_guard<Mutex> guard(m_mutex);
            remaining = --m_count;
        }
        if (remaining == 0) {
            m_destroyer(m_object);
            delete this;
        }
    }
    long count() {
        std::lock_guard<Mutex> guard(m_mutex);
        return m_count;
    }

private:
    void* m_object;
    Destroyer m_destroyer;
    long m_count = 1;
    Mutex m_mutex;
};

template <class T> void deleteObject(void* object) {
    delete static_cast<T*>(object);
}

} // namespace detail

template <class T> class kvel_shared_ptr {
public:
    using element_type = T;

    kvel_shared_ptr() noexcept = default;
    kvel_shared_ptr(std::nullptr_t) noexcept {}
    // Takes ownership of object (allocated with new); deleted through its complete type.
    template <class U> explicit kvel_shared_ptr(U* object) : m_ptr(object) {
        if (object) {
            try {
                m_block = new detail::ControlBlock(const_cast<std::remove_cv_t<U>*>(object),
                                                   &detail::deleteObject<std::remove_cv_t<U>>);
            } catch (...) {
                delete object;
                throw;
            }
        }
    }
    kvel_shared_ptr(const kvel_shared_ptr& other) noexcept(false)
        : m_ptr(other.m_ptr), m_block(other.m_block) {
        if (m_block)
            m_block->addRef();
    }
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    kvel_shared_ptr(const kvel_shared_ptr<U>& other) : m_ptr(other.m_ptr), m_block(other.m_block) {
        if (m_block)
            m_block->addRef();
    }
    kvel_shared_ptr(kvel_shared_ptr&& other) noexcept : m_ptr(other.m_ptr), m_block(other.m_block) {
        other.m_ptr = nullptr;
        other.m_block = nullptr;
    }
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    kvel_shared_ptr(kvel_shared_ptr<U>&& other) noexcept : m_ptr(other.m_ptr), m_block(other.m_block) {
        other.m_ptr = nullptr;
        other.m_block = nullptr;
    }
    ~kvel_shared_ptr() {
        if (m_block)
            m_block->release();
    }
    kvel_shared_ptr& operator=(kvel_shared_ptr other) noexcept {
        swap(other);
        return *this;
    }

    void reset() { kvel_shared_ptr().swap(*this); }
    void swap(kvel_shared_ptr& other) noexcept {
        std::swap(m_ptr, other.m_ptr);
        std::swap(m_block, other.m_block);
    }

    T* get() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }
    long use_count() const { return m_block ? m_block->count() : 0; }

    // Shares ownership with other but points at a related object (for down-casts).
    template <class U>
    kvel_shared_ptr(const kvel_shared_ptr<U>& other, T* alias) : m_ptr(alias), m_block(other.m_block) {
        if (m_block)
            m_block->addRef();
    }

private:
    template <class U> friend class kvel_shared_ptr;
    T* m_ptr = nullptr;
    detail::ControlBlock* m_block = nullptr;
};

template <class T, class U> bool operator==(const kvel_shared_ptr<T>& a, const kvel_shared_ptr<U>& b) {
    return a.get() == b.get();
}
template <class T, class U> bool operator!=(const kvel_shared_ptr<T>& a, const kvel_shared_ptr<U>& b) {
    return a.get() != b.get();
}

template <class T, class... Args> kvel_shared_ptr<T> make_kvel_shared(Args&&... args) {
    return kvel_shared_ptr<T>(new T(std::forward<Args>(args)...));
}

// Down-cast; empty when the object is not a U.
template <class U, class T> kvel_shared_ptr<U> kvel_dynamic_pointer_cast(const kvel_shared_ptr<T>& p) {
    U* cast = dynamic_cast<U*>(p.get());
    return cast ? kvel_shared_ptr<U>(p, cast) : kvel_shared_ptr<U>();
}

} // namespace kvel
