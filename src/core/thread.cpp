#include "core/thread.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>

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
thread_local bool t_isEngineWorker = false;
std::atomic<ThreadCreateFunction> g_threadCreate{pthread_create};
}  // namespace

void Thread_SetMainThreadMark(bool isMain) { t_isMainThread = isMain; }
bool Thread_IsMainThread() { return t_isMainThread; }
bool Thread_IsEngineWorker() { return t_isEngineWorker; }

ThreadCreateFunction Thread_SetCreateFunction(ThreadCreateFunction create)
{
    return g_threadCreate.exchange(create ? create : pthread_create);
}

CThread::CThread() = default;

CThread::~CThread()
{
    if (m_joinable) pthread_detach(m_handle);
}

bool CThread::Start(Entry entry, void* userData, void*)
{
    // A handle never waited for would otherwise leak with the restart.
    if (m_joinable) pthread_detach(m_handle);
    m_joinable = false;
    m_userData = userData;
    m_entry = entry;
    m_running.store(true, std::memory_order_release);
    int error = g_threadCreate.load()(&m_handle, nullptr, ThreadStart, this);
    if (error != 0) {
        m_lastError = error;
        m_running.store(false, std::memory_order_release);
        return false;
    }
    m_joinable = true;
    return true;
}

int32_t CThread::WaitForExit()
{
    // A thread cannot join itself; it stays joinable and is detached with its CThread.
    if (!m_joinable || pthread_equal(m_handle, pthread_self())) return m_exitCode;
    void* result = nullptr;
    if (pthread_join(m_handle, &result) == 0) m_exitCode = static_cast<int32_t>(reinterpret_cast<intptr_t>(result));
    m_joinable = false;
    return m_exitCode;
}

void CThread::RequestTerminate()
{
    m_termMutex.Lock();
    m_terminate = true;
    m_termMutex.Unlock();
}

bool CThread::TerminateRequested()
{
    m_termMutex.Lock();
    bool requested = m_terminate;
    m_termMutex.Unlock();
    return requested;
}

void* ThreadStart(void* arg)
{
    auto* thread = static_cast<CThread*>(arg);
    Thread_SetMainThreadMark(false);
    t_isEngineWorker = true;
    int32_t result = thread->m_entry(thread);
    // The owner may delete the CThread as soon as it sees the flag clear: nothing touches it after this.
    thread->m_running.store(false, std::memory_order_release);
    return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

void Thread_Sleep(int32_t milliseconds)
{
    if (milliseconds <= 0) return;
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

TlsSlot Thread_AllocTLS()
{
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) return TLS_SLOT_NONE;
    return static_cast<TlsSlot>(key);
}

void Thread_FreeTLS(TlsSlot slot)
{
    if (slot != TLS_SLOT_NONE) pthread_key_delete(static_cast<pthread_key_t>(slot));
}

bool Thread_SetTLS(TlsSlot slot, void* value)
{
    if (slot == TLS_SLOT_NONE) return false;
    return pthread_setspecific(static_cast<pthread_key_t>(slot), value) == 0;
}

void* Thread_GetTLS(TlsSlot slot)
{
    if (slot == TLS_SLOT_NONE) return nullptr;
    return pthread_getspecific(static_cast<pthread_key_t>(slot));
}
