#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <pthread.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::thread NamedThread(const char* name, std::shared_future<void> release, std::atomic<bool>& named) {
    return std::thread([name, release, &named] {
        ::pthread_setname_np(::pthread_self(), name);
        named = true;
        release.wait();
    });
}

TEST(WaitForThreadsToEnd, WaitsForTheNamedThreadUntilItHasEndedWithoutAJoin) {
    std::promise<void> release;
    std::atomic<bool> named = false;
    std::thread worker = NamedThread("kv-waited-for", release.get_future().share(), named);
    while (!named) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(kv::WaitForThreadsToEnd("kv-waited-for", 20ms));
    EXPECT_TRUE(kv::WaitForThreadsToEnd("kv-waited", 0ms)) << "only the whole name counts";
    release.set_value();
    EXPECT_TRUE(kv::WaitForThreadsToEnd("kv-waited-for", 5s));
    worker.join();
}

TEST(WaitForThreadsToEnd, TheCallerDoesNotWaitForItself) {
    bool ended = false;
    std::thread([&ended] {
        ::pthread_setname_np(::pthread_self(), "kv-caller");
        ended = kv::WaitForThreadsToEnd("kv-caller", 0ms);
    }).join();
    EXPECT_TRUE(ended);
}

} // namespace
