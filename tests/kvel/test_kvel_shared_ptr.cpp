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

TEST(KvelSharedPtr, CountsCopiesAndDestroysOnce) {
    std::atomic<int> alive{0};
    {
        kvel::kvel_shared_ptr<Counted> a = kvel::make_kvel_shared<Derived>(alive);
        EXPECT_EQ(alive, 1);
        EXPECT_EQ(a.use_count(), 1);
        kvel::kvel_shared_ptr<Counted> b = a;
        EXPECT_EQ(a.use_count(), 2);
        kvel::kvel_shared_ptr<Derived> d = kvel::kvel_dynamic_pointer_cast<Derived>(b);
        ASSERT_TRUE(d);
        EXPECT_EQ(a.use_count(), 3);
        b.reset();
        d = kvel::kvel_shared_ptr<Derived>();
        EXPECT_EQ(a.use_count(), 1);
        kvel::kvel_shared_ptr<Counted> moved = std::move(a);
        EXPECT_FALSE(a);
        EXPECT_EQ(moved.use_count(), 1);
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
    const kvel::ITypePtr node =
        kvel::make_kvel_shared<kvel::ElementaryType>("x", kvel::Dimensions{}, 0, 1, 0, 0);
    EXPECT_FALSE(kvel::kvel_dynamic_pointer_cast<kvel::StructType>(node));
}

TEST(KvelSharedPtr, ConcurrentCopiesKeepTheCount) {
    std::atomic<int> alive{0};
    kvel::kvel_shared_ptr<Counted> shared = kvel::make_kvel_shared<Counted>(alive);
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
    EXPECT_EQ(shared.use_count(), 1);
    shared.reset();
    EXPECT_EQ(alive, 0);
}
