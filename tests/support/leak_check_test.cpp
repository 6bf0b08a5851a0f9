// The leak check that ends every test process of the sanitizer build, on the
// thread data of a library the process loaded (as Mesa's driver and corvane
// are loaded). A crash of the check itself would end this process.
#include <gtest/gtest.h>

#include <cstdint>
#include <future>
#include <thread>

#include <dlfcn.h>
#include <sanitizer/lsan_interface.h>

// The block is allocated for each thread on first use, where the allocator
// happens to put it: 16 bytes into a page among other places.
TEST(LeakCheck, ALibrarysThreadDataAnywhereInAPageIsChecked)
{
    void *library = dlopen(VORENTA_HELD_BLOCK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    auto threadData = reinterpret_cast<void *(*)()>(dlsym(library, "held_block_thread_data"));
    ASSERT_TRUE(threadData);
    // Threads one after another until one's block starts 16 bytes into a
    // page; that one waits until the check is done.
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::thread kept;
    for (int i = 0; i < 4000 && !kept.joinable(); ++i) {
        std::promise<std::uintptr_t> placed;
        std::future<std::uintptr_t> at = placed.get_future();
        std::thread thread([threadData, released, placed = std::move(placed)]() mutable {
            const auto address = reinterpret_cast<std::uintptr_t>(threadData());
            placed.set_value(address);
            if (address % 4096 == 16)
                released.wait();
        });
        if (at.get() % 4096 == 16)
            kept = std::move(thread);
        else
            thread.join();
    }
    ASSERT_TRUE(kept.joinable()) << "no thread's block started 16 bytes into a page";
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
    release.set_value();
    kept.join();
    EXPECT_EQ(dlclose(library), 0);
}
