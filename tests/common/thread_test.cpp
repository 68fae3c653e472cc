#include "common/thread_win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/sync_win32.h"

namespace velm {
namespace {

class CountingThread : public Thread {
public:
    ~CountingThread() override { Stop(1000); }
    std::atomic<int> runs{0};
    int steps_until_done = -1;  // -1: loop until stopped
    DWORD ignore_stop_ms = 0;  // a step that sees no stop request for this long
    std::atomic<bool> terminated_hook{false};
    std::atomic<bool> late_step_done{false};

protected:
    int Run(uintptr_t) override {
        ++runs;
        if (ignore_stop_ms) {
            Sleep(ignore_stop_ms);
            late_step_done = true;
            return 0;
        }
        Sleep(5);
        return runs == steps_until_done ? 0 : 1;
    }
    void OnTerminate() override { terminated_hook = true; }
};

TEST(Thread, StopOfANeverStartedThreadReturnsZero) {
    CountingThread thread;
    EXPECT_EQ(thread.Stop(100), 0);
    EXPECT_EQ(thread.Join(0), 0);
    EXPECT_EQ(thread.runs, 0);
}

TEST(Thread, RunsUntilFinishedAndCanBeStartedAgain) {
    CountingThread thread;
    thread.steps_until_done = 3;
    ASSERT_TRUE(thread.Start(0));
    EXPECT_EQ(thread.Join(5000), 0);
    EXPECT_EQ(thread.runs, 3);
    // The object is idle again: a second run starts afresh.
    thread.steps_until_done = 5;
    ASSERT_TRUE(thread.Start(0));
    EXPECT_EQ(thread.Join(5000), 0);
    EXPECT_EQ(thread.runs, 5);
    EXPECT_EQ(thread.Stop(100), 0);  // already ended by itself
}

TEST(Thread, StopEndsALoopingThreadInTime) {
    CountingThread thread;
    ASSERT_TRUE(thread.Start(0));
    Sleep(50);
    EXPECT_EQ(thread.Stop(2000), 1);
    EXPECT_GT(thread.runs, 0);
    EXPECT_FALSE(thread.terminated_hook);
}

// A late thread may hold a lock; it is logged and waited for, never killed mid-step.
TEST(Thread, ALateThreadIsWaitedForNotTerminated) {
    CountingThread thread;
    thread.ignore_stop_ms = 800;
    ASSERT_TRUE(thread.Start(0));
    Sleep(50);
    EXPECT_EQ(thread.Stop(200), 0);
    EXPECT_TRUE(thread.terminated_hook);
    EXPECT_TRUE(thread.late_step_done);
    EXPECT_EQ(thread.Join(0), 0);
}

TEST(Thread, SuspendedStartRunsOnlyAfterResume) {
    CountingThread thread;
    thread.steps_until_done = 1;
    ASSERT_TRUE(thread.Start(0, Thread::kSuspended));
    Sleep(100);
    EXPECT_EQ(thread.runs, 0);
    EXPECT_TRUE(thread.Resume());
    EXPECT_EQ(thread.Join(5000), 0);
    EXPECT_EQ(thread.runs, 1);
}

TEST(Thread, StopOfASuspendedThreadEndsIt) {
    CountingThread thread;
    ASSERT_TRUE(thread.Start(0, Thread::kSuspended));
    EXPECT_EQ(thread.Stop(2000), 1);
    EXPECT_EQ(thread.runs, 0);
}

TEST(Semaphore, WaitTakesAUnitOnlyWhenOneIsAvailable) {
    Semaphore semaphore;
    EXPECT_EQ(semaphore.Wait(10), 0);  // no handle yet
    ASSERT_TRUE(semaphore.Create(0, 1));
    EXPECT_EQ(semaphore.Wait(10), 0);
    semaphore.Release();
    EXPECT_EQ(semaphore.Wait(10), 1);
    EXPECT_EQ(semaphore.Wait(10), 0);
}

// The handoff's pattern: one unit bounces between two semaphores. Waits that time out at
// once keep withdrawing while the other side releases, which is where a count that lives
// partly in user space could lose a unit (both sides stuck) or make one twice.
TEST(Semaphore, UnitsBouncingBetweenTwoThreadsAreNeverLostOrDoubled) {
    Semaphore empty, full;
    ASSERT_TRUE(empty.Create(1, 1));
    ASSERT_TRUE(full.Create(0, 1));
    constexpr int kPasses = 20000;
    std::atomic<int> slot{0};
    std::atomic<int> mismatches{0};
    std::thread consumer([&] {
        for (int i = 1; i <= kPasses; ++i) {
            while (!full.Wait(i % 2 ? 0 : 1)) {
            }
            if (slot.load() != i) ++mismatches;
            empty.Release();
        }
    });
    for (int i = 1; i <= kPasses; ++i) {
        while (!empty.Wait(i % 3 ? 0 : 1)) {
        }
        slot = i;
        full.Release();
    }
    consumer.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(empty.Wait(10), 1) << "the unit ends where it started";
    EXPECT_EQ(empty.Wait(10), 0) << "and exists once";
    EXPECT_EQ(full.Wait(10), 0);
}

TEST(Event, WaitResults) {
    Event event;
    EXPECT_EQ(event.Wait(0), Event::kNoHandle);
    ASSERT_TRUE(event.Create(true, false));
    EXPECT_EQ(event.Wait(10), Event::kTimeout);
    event.Set();
    EXPECT_EQ(event.Wait(10), Event::kSignalled);
    event.Reset();
    PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
    EXPECT_EQ(event.WaitWithMessages(1000), Event::kMessage);
}

TEST(CriticalSection, InitialisedFlagFollowsInitAndDelete) {
    CriticalSection section;
    EXPECT_EQ(section.IsInitialised(), 0);
    section.Init(L"unused name");
    EXPECT_EQ(section.IsInitialised(), 1);
    { ScopedLock lock(section); }
    section.Delete();
    EXPECT_EQ(section.IsInitialised(), 0);
    section.Delete();
}

}  // namespace
}  // namespace velm
