// Threads, thread-local storage and locks.
#pragma once
#include <atomic>
#include <cstdint>
#include <pthread.h>

// A re-entrant lock: the thread that holds it may lock it again. The name is not kept.
class CMutex {
public:
    explicit CMutex(const char* name);
    ~CMutex();
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;
    void Init(const char* name);
    bool Lock();
    void Unlock();
    void Destroy();

private:
    struct Section;
    Section* m_section = nullptr;  // from the plain heap: the memory manager itself locks one
};

// A worker thread. The owner fills it and calls Start; the entry runs on the new thread with the
// CThread, and its result is the thread's exit code.
//
// Ending one: the owner calls RequestTerminate (the flag under "TermMutex") and then WaitForExit; the
// entry polls TerminateRequested each round and returns once it is set.
class CThread {
public:
    using Entry = int32_t (*)(CThread* thread);

    CThread();
    // A thread that was started and never waited for is detached, so its resources go when it ends.
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // False when the system thread could not be made: the running flag is then clear and
    // m_lastError holds pthread_create's error number. The third argument is not used.
    bool Start(Entry entry, void* userData, void* unused = nullptr);
    // Joins the thread the first time; later calls (and calls before a successful Start) return at
    // once. Returns the entry's result (0 when nothing ran).
    int32_t WaitForExit();

    void RequestTerminate();
    bool TerminateRequested();
    bool IsRunning() const { return m_running.load(std::memory_order_acquire); }

    pthread_t m_handle{};
    int32_t m_lastError = 0;
    bool m_terminate = false;          // guarded by m_termMutex
    std::atomic<bool> m_running{false};  // set by Start, cleared by the thread when its entry returns
    void* m_userData = nullptr;
    Entry m_entry = nullptr;
    CMutex m_termMutex{"TermMutex"};

private:
    bool m_joinable = false;  // started and neither joined nor detached
    int32_t m_exitCode = 0;
};

// The new thread's own entry: clears the main-thread mark, runs the entry, clears the running flag.
void* ThreadStart(void* thread);

// Tests make thread creation fail through this; null restores pthread_create. Returns the previous one.
using ThreadCreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
ThreadCreateFunction Thread_SetCreateFunction(ThreadCreateFunction create);

// The main thread carries a mark; threads started through CThread clear theirs.
void Thread_SetMainThreadMark(bool isMain);
bool Thread_IsMainThread();
// True on a thread started through CThread (main-thread-only code asserts it is not on one).
bool Thread_IsEngineWorker();

// Sleeps at least that many milliseconds (signals do not cut it short); 0 or less returns at once.
void Thread_Sleep(int32_t milliseconds);

// Thread-local slots. Thread_AllocTLS gives TLS_SLOT_NONE when no slot is left; a new slot reads null
// on every thread.
using TlsSlot = uint32_t;
constexpr TlsSlot TLS_SLOT_NONE = 0xFFFFFFFFu;
TlsSlot Thread_AllocTLS();
void Thread_FreeTLS(TlsSlot slot);
bool Thread_SetTLS(TlsSlot slot, void* value);
void* Thread_GetTLS(TlsSlot slot);
