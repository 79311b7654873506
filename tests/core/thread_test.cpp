// Worker threads, the terminate protocol, the re-entrant lock, thread-local slots, sleeping and the
// environment lookup.
#include "core/memory_manager.h"
#include "core/thread.h"
#include "core/timing.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>

namespace {

struct WorkerProbe {
    int32_t seenUserValue = 0;
    bool markSeen = true;
    bool runningSeen = false;
    std::atomic<bool> release{false};
    std::atomic<int> rounds{0};
};

int32_t WorkerReadsUserData(CThread* thread)
{
    auto* probe = static_cast<WorkerProbe*>(thread->m_userData);
    probe->seenUserValue = 1234;
    probe->markSeen = Thread_IsMainThread();
    probe->runningSeen = thread->IsRunning();
    while (!probe->release.load()) Thread_Sleep(1);
    return 42;
}

int32_t WorkerUntilTerminated(CThread* thread)
{
    auto* probe = static_cast<WorkerProbe*>(thread->m_userData);
    while (!thread->TerminateRequested()) {
        probe->rounds.fetch_add(1);
        Thread_Sleep(1);
    }
    return -7;
}

int32_t WorkerReturnsAtOnce(CThread*) { return 5; }

class ThreadsTest : public testing::Test {
protected:
    void SetUp() override
    {
        wasMain_ = Thread_IsMainThread();
        Thread_SetMainThreadMark(true);
    }
    void TearDown() override { Thread_SetMainThreadMark(wasMain_); }
    bool wasMain_ = false;
};

TEST_F(ThreadsTest, EntryRunsWithUserDataAndItsResultComesBack)
{
    WorkerProbe probe;
    auto* thread = new CThread();
    EXPECT_FALSE(thread->IsRunning());
    ASSERT_TRUE(thread->Start(WorkerReadsUserData, &probe));
    EXPECT_TRUE(thread->IsRunning());
    probe.release = true;
    EXPECT_EQ(thread->WaitForExit(), 42);
    EXPECT_EQ(thread->WaitForExit(), 42);  // joined once; the second call only reports
    EXPECT_FALSE(thread->IsRunning());
    EXPECT_EQ(probe.seenUserValue, 1234);
    EXPECT_FALSE(probe.markSeen);  // a worker is never taken for the main thread
    EXPECT_TRUE(probe.runningSeen);
    EXPECT_TRUE(Thread_IsMainThread());
    EXPECT_EQ(thread->m_lastError, 0);
    delete thread;
}

TEST_F(ThreadsTest, TerminateProtocolEndsTheLoop)
{
    WorkerProbe probe;
    auto* thread = new CThread();
    EXPECT_FALSE(thread->TerminateRequested());
    ASSERT_TRUE(thread->Start(WorkerUntilTerminated, &probe));
    while (probe.rounds.load() < 3) Thread_Sleep(1);
    thread->RequestTerminate();
    EXPECT_EQ(thread->WaitForExit(), -7);
    EXPECT_FALSE(thread->IsRunning());
    thread->m_termMutex.Destroy();
    delete thread;
}

TEST_F(ThreadsTest, StartsAgainAfterItWasWaitedFor)
{
    CThread thread;
    ASSERT_TRUE(thread.Start(WorkerReturnsAtOnce, nullptr));
    EXPECT_EQ(thread.WaitForExit(), 5);
    WorkerProbe probe;
    probe.release = true;
    ASSERT_TRUE(thread.Start(WorkerReadsUserData, &probe));
    EXPECT_EQ(thread.WaitForExit(), 42);
}

TEST_F(ThreadsTest, DeletedWithoutWaitingIsDetached)
{
    // Nothing joins these; the thread checker reports a leak if they were left joinable.
    for (int i = 0; i < 8; ++i) {
        auto* thread = new CThread();
        ASSERT_TRUE(thread->Start(WorkerReturnsAtOnce, nullptr));
        while (thread->IsRunning()) Thread_Sleep(1);
        delete thread;
    }
}

int FailingThreadCreate(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }

TEST_F(ThreadsTest, CreationFailureIsReported)
{
    ThreadCreateFunction previous = Thread_SetCreateFunction(FailingThreadCreate);
    WorkerProbe probe;
    CThread thread;
    bool started = thread.Start(WorkerReadsUserData, &probe);
    Thread_SetCreateFunction(previous);
    EXPECT_FALSE(started);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.m_lastError, EAGAIN);
    EXPECT_EQ(thread.WaitForExit(), 0);  // nothing to wait for
    EXPECT_EQ(probe.seenUserValue, 0);

    probe.release = true;  // the real creation is back
    ASSERT_TRUE(thread.Start(WorkerReadsUserData, &probe));
    EXPECT_EQ(thread.WaitForExit(), 42);
}

struct LockProbe {
    CMutex* mutex;
    std::atomic<bool> acquired{false};
    int64_t counter = 0;  // guarded by mutex
};

int32_t WorkerTakesTheLock(CThread* thread)
{
    auto* probe = static_cast<LockProbe*>(thread->m_userData);
    probe->mutex->Lock();
    probe->acquired = true;
    probe->mutex->Unlock();
    return 0;
}

int32_t WorkerCountsUnderTheLock(CThread* thread)
{
    auto* probe = static_cast<LockProbe*>(thread->m_userData);
    for (int i = 0; i < 20000; ++i) {
        probe->mutex->Lock();
        probe->mutex->Lock();  // re-entered on the same thread
        ++probe->counter;
        probe->mutex->Unlock();
        probe->mutex->Unlock();
    }
    return 0;
}

TEST_F(ThreadsTest, MutexIsReentrantAndHeldUntilTheLastUnlock)
{
    CMutex mutex("TestMutex");
    LockProbe probe{&mutex};
    EXPECT_TRUE(mutex.Lock());
    EXPECT_TRUE(mutex.Lock());
    CThread thread;
    ASSERT_TRUE(thread.Start(WorkerTakesTheLock, &probe));
    mutex.Unlock();
    Thread_Sleep(20);
    EXPECT_FALSE(probe.acquired);  // still held once
    mutex.Unlock();
    thread.WaitForExit();
    EXPECT_TRUE(probe.acquired);
}

TEST_F(ThreadsTest, MutexKeepsCountsWholeAcrossThreads)
{
    CMutex mutex("TestMutex");
    LockProbe probe{&mutex};
    CThread threads[4];
    for (CThread& t : threads) ASSERT_TRUE(t.Start(WorkerCountsUnderTheLock, &probe));
    for (CThread& t : threads) t.WaitForExit();
    EXPECT_EQ(probe.counter, 4 * 20000);
}

TEST_F(ThreadsTest, MutexInitAgainAndDestroyTwiceAreHarmless)
{
    CMutex mutex("TestMutex");
    mutex.Init("TestMutex");
    EXPECT_TRUE(mutex.Lock());
    mutex.Unlock();
    mutex.Destroy();
    mutex.Destroy();
    mutex.Init("TestMutex");
    EXPECT_TRUE(mutex.Lock());
    mutex.Unlock();
}

struct TlsProbe {
    TlsSlot slot;
    void* seenBefore = reinterpret_cast<void*>(1);
    void* seenAfter = nullptr;
};

int32_t WorkerUsesItsOwnSlot(CThread* thread)
{
    auto* probe = static_cast<TlsProbe*>(thread->m_userData);
    probe->seenBefore = Thread_GetTLS(probe->slot);
    static int mine;
    Thread_SetTLS(probe->slot, &mine);
    probe->seenAfter = Thread_GetTLS(probe->slot);
    return 0;
}

TEST_F(ThreadsTest, TlsSlotsArePerThread)
{
    TlsSlot slot = Thread_AllocTLS();
    ASSERT_NE(slot, TLS_SLOT_NONE);
    EXPECT_EQ(Thread_GetTLS(slot), nullptr);
    int ownValue = 0;
    EXPECT_TRUE(Thread_SetTLS(slot, &ownValue));

    TlsProbe probe{slot};
    CThread thread;
    ASSERT_TRUE(thread.Start(WorkerUsesItsOwnSlot, &probe));
    thread.WaitForExit();
    EXPECT_EQ(probe.seenBefore, nullptr);
    EXPECT_NE(probe.seenAfter, nullptr);
    EXPECT_NE(probe.seenAfter, &ownValue);
    EXPECT_EQ(Thread_GetTLS(slot), &ownValue);

    TlsSlot other = Thread_AllocTLS();
    ASSERT_NE(other, TLS_SLOT_NONE);
    EXPECT_NE(other, slot);
    EXPECT_EQ(Thread_GetTLS(other), nullptr);
    Thread_FreeTLS(other);
    Thread_FreeTLS(slot);

    EXPECT_FALSE(Thread_SetTLS(TLS_SLOT_NONE, &ownValue));
    EXPECT_EQ(Thread_GetTLS(TLS_SLOT_NONE), nullptr);
}

std::atomic<int> g_threadTestSignals{0};
void ThreadTestOnSignal(int) { g_threadTestSignals.fetch_add(1); }

struct SignalProbe {
    pthread_t target;
    std::atomic<bool> sleeping{false};
};

int32_t WorkerInterruptsTheSleeper(CThread* thread)
{
    auto* probe = static_cast<SignalProbe*>(thread->m_userData);
    while (!probe->sleeping.load()) Thread_Sleep(1);
    for (int i = 0; i < 3; ++i) {
        Thread_Sleep(10);
        pthread_kill(probe->target, SIGUSR1);
    }
    return 0;
}

TEST_F(ThreadsTest, SleepOutlastsSignals)
{
    struct sigaction action{}, previous{};
    action.sa_handler = ThreadTestOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the sleep sees EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    SignalProbe probe{pthread_self()};
    CThread thread;
    ASSERT_TRUE(thread.Start(WorkerInterruptsTheSleeper, &probe));
    auto begin = std::chrono::steady_clock::now();
    probe.sleeping = true;
    Thread_Sleep(80);
    auto slept = std::chrono::steady_clock::now() - begin;
    thread.WaitForExit();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_GE(g_threadTestSignals.load(), 1);
    EXPECT_GE(slept, std::chrono::milliseconds(80));

    begin = std::chrono::steady_clock::now();
    Thread_Sleep(0);
    Thread_Sleep(-5);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(50));
}

TEST(ThreadsEnvTest, GetEnvUTF8)
{
    {
        kvtest::ScopedEnv unset("KV_TEST_ENV_PROBE", nullptr);
        EXPECT_EQ(GetEnvUTF8("KV_TEST_ENV_PROBE"), nullptr);
    }
    const char* values[] = {"", "plain", "h\xC3\xA9llo \xE2\x9C\x93 \xE6\x97\xA5\xE6\x9C\xAC", "a=b=c", "\x7F\xFF\xFE"};
    for (const char* value : values) {
        SCOPED_TRACE(value);
        kvtest::ScopedEnv set("KV_TEST_ENV_PROBE", value);
        size_t liveBefore = MemoryManager_Probe().liveBlocks;
        char* got = GetEnvUTF8("KV_TEST_ENV_PROBE");
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, liveBefore + 1);  // the caller frees it with MemFree
        EXPECT_EQ(std::string(got), value);
        char* again = GetEnvUTF8("KV_TEST_ENV_PROBE");
        EXPECT_NE(again, got);  // a new text each time
        MemFree(again);
        MemFree(got);
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, liveBefore);
    }
}

TEST(ThreadsEnvTest, GetEnvUTF8RefusesNamesThatCannotBeVariables)
{
    // getenv matches "NAME=x" against the entry "NAME=x=y" and answers "y": such names get null.
    kvtest::ScopedEnv set("KV_TEST_ENV_PROBE", "x=y");
    ASSERT_NE(std::getenv("KV_TEST_ENV_PROBE=x"), nullptr);
    EXPECT_EQ(GetEnvUTF8("KV_TEST_ENV_PROBE=x"), nullptr);
    EXPECT_EQ(GetEnvUTF8("="), nullptr);
    EXPECT_EQ(GetEnvUTF8(""), nullptr);
    EXPECT_EQ(GetEnvUTF8(nullptr), nullptr);
}

}  // namespace
