#include "common/thread_win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/sync_win32.h"

namespace velm {
namespace {

// Counts its steps; until stopped, or until steps_until_done. Each step tells the test it
// has run, so that the test waits on that instead of the clock.
class CountingThread : public Thread {
public:
    CountingThread() {
        step_ran.Create(false, false);
        terminated.Create(true, false);
    }
    ~CountingThread() override { Stop(1000); }
    std::atomic<int> runs{0};
    int steps_until_done = -1;  // -1: loop until stopped
    // A step that does not look at the stop request until this event is set.
    HANDLE hold_step = nullptr;
    Event step_ran;
    Event terminated;  // set by the hook of a late thread
    std::atomic<bool> terminated_hook{false};
    std::atomic<bool> late_step_done{false};

protected:
    Step Run() override {
        ++runs;
        step_ran.Set();
        if (hold_step) {
            WaitForSingleObject(hold_step, INFINITE);
            late_step_done = true;
            return Step::kDone;
        }
        WaitForStop(5);
        return runs == steps_until_done ? Step::kDone : Step::kAgain;
    }
    void OnTerminate() override {
        terminated_hook = true;
        terminated.Set();
    }
};

// A bound only a hang reaches.
constexpr DWORD kHangMs = 60000;

TEST(Thread, StopOfANeverStartedThreadReportsNoThread) {
    CountingThread thread;
    EXPECT_EQ(thread.Stop(100), Thread::StopOutcome::kNotRunning);
    EXPECT_TRUE(thread.Join(0));
    EXPECT_EQ(thread.runs, 0);
}

TEST(Thread, RunsUntilFinishedAndCanBeStartedAgain) {
    CountingThread thread;
    thread.steps_until_done = 3;
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Join(kHangMs));
    EXPECT_EQ(thread.runs, 3);
    // The object is idle again: a second run starts afresh.
    thread.steps_until_done = 5;
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Join(kHangMs));
    EXPECT_EQ(thread.runs, 5);
    EXPECT_EQ(thread.Stop(100), Thread::StopOutcome::kNotRunning) << "it had ended by itself";
}

TEST(Thread, StopEndsALoopingThreadInTime) {
    CountingThread thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(thread.step_ran.Wait(kHangMs));
    EXPECT_EQ(thread.Stop(kHangMs), Thread::StopOutcome::kEndedInTime);
    EXPECT_GT(thread.runs, 0);
    EXPECT_FALSE(thread.terminated_hook);
}

// A late thread may hold a lock; it is logged and waited for, never killed mid-step.
TEST(Thread, ALateThreadIsWaitedForNotTerminated) {
    Event release;
    ASSERT_TRUE(release.Create(true, false));
    CountingThread thread;
    thread.hold_step = release.Handle();
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(thread.step_ran.Wait(kHangMs));
    // The step ends only once Stop has given up waiting for it and called the hook.
    std::thread releaser([&] {
        thread.terminated.Wait(kHangMs);
        release.Set();
    });
    EXPECT_EQ(thread.Stop(10), Thread::StopOutcome::kEndedLate);
    releaser.join();
    EXPECT_TRUE(thread.terminated_hook);
    EXPECT_TRUE(thread.late_step_done);
    EXPECT_TRUE(thread.Join(0));
}

TEST(Semaphore, WaitTakesAUnitOnlyWhenOneIsAvailable) {
    Semaphore semaphore;
    EXPECT_FALSE(semaphore.Wait(10));  // no handle yet
    ASSERT_TRUE(semaphore.Create(0, 1));
    EXPECT_FALSE(semaphore.Wait(10));
    semaphore.Release();
    semaphore.Release();  // beyond the maximum: dropped
    EXPECT_TRUE(semaphore.Wait(10));
    EXPECT_FALSE(semaphore.Wait(10));
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
    EXPECT_TRUE(empty.Wait(10)) << "the unit ends where it started";
    EXPECT_FALSE(empty.Wait(10)) << "and exists once";
    EXPECT_FALSE(full.Wait(10));
}

TEST(Event, WaitSaysWhetherTheEventIsSet) {
    Event event;
    EXPECT_FALSE(event.Wait(0)) << "no handle";
    ASSERT_TRUE(event.Create(true, false));
    EXPECT_FALSE(event.Wait(10));
    event.Set();
    EXPECT_TRUE(event.Wait(10));
    EXPECT_TRUE(event.Wait(0)) << "manual reset: it stays set";
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(CriticalSection, InitialisedFlagFollowsInitAndDelete) {
    CriticalSection section;
    EXPECT_FALSE(section.IsInitialised());
    section.Init(L"unused name");
    EXPECT_TRUE(section.IsInitialised());
    { ScopedLock lock(section); }
    section.Delete();
    EXPECT_FALSE(section.IsInitialised());
    section.Delete();
}

}  // namespace
}  // namespace velm
