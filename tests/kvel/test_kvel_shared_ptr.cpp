// Reference counting of the library's shared pointer.

#include "kvel/kvel_shared_ptr.h"
#include "kvel/kvel_types.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Counted {
    explicit Counted(std::atomic<int>& alive) : alive(alive) { ++alive; }
    virtual ~Counted() { --alive; }
    std::atomic<int>& alive;
};
struct Derived : Counted {
    using Counted::Counted;
};

} // namespace

// Copies, casts and moves count; copies made on several threads at once keep the count; the
// object is destroyed once, when the last holder lets go.
TEST(KvelSharedPtr, CountsCopiesAcrossThreadsAndDestroysOnce) {
    std::atomic<int> alive{0};
    kvel::kvel_shared_ptr<Counted> shared = kvel::make_kvel_shared<Derived>(alive);
    kvel::kvel_shared_ptr<Derived> derived = kvel::kvel_dynamic_pointer_cast<Derived>(shared);
    EXPECT_EQ(shared.use_count(), 2);
    kvel::kvel_shared_ptr<Derived> moved = std::move(derived);
    EXPECT_FALSE(derived);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared] {
            for (int i = 0; i < 5000; ++i) {
                kvel::kvel_shared_ptr<Counted> copy = shared;
                kvel::kvel_shared_ptr<Counted> second = copy;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(moved.use_count(), 2);
    shared.reset();
    EXPECT_EQ(alive, 1);
    moved.reset();
    EXPECT_EQ(alive, 0);
    const kvel::ITypePtr node =
        kvel::make_kvel_shared<kvel::ElementaryType>("x", kvel::Dimensions{}, 0, 1, 0, 0);
    EXPECT_FALSE(kvel::kvel_dynamic_pointer_cast<kvel::StructType>(node));
}
