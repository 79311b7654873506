#include "core/thread.h"

#include <cstdlib>
#include <new>
#include <pthread.h>

struct CMutex::Section {
    pthread_mutex_t mutex;
};

CMutex::CMutex(const char* name) { Init(name); }

CMutex::~CMutex() { Destroy(); }

void CMutex::Init(const char*)
{
    if (m_section) return;
    auto* section = static_cast<Section*>(std::malloc(sizeof(Section)));
    if (!section) throw std::bad_alloc();
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    m_section = section;
}

bool CMutex::Lock()
{
    pthread_mutex_lock(&m_section->mutex);
    return true;
}

void CMutex::Unlock() { pthread_mutex_unlock(&m_section->mutex); }

void CMutex::Destroy()
{
    if (!m_section) return;
    pthread_mutex_destroy(&m_section->mutex);
    std::free(m_section);
    m_section = nullptr;
}

namespace {
thread_local bool t_isMainThread = false;
}  // namespace

void Thread_SetMainThreadMark(bool isMain) { t_isMainThread = isMain; }
bool Thread_IsMainThread() { return t_isMainThread; }
