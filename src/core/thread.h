// Threads, thread-local storage and locks.
#pragma once
#include <cstdint>

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

// The main thread carries a mark; threads started through CThread clear theirs.
void Thread_SetMainThreadMark(bool isMain);
bool Thread_IsMainThread();
