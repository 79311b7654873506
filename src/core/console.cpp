#include "core/console.h"

#include "core/memory_manager.h"
#include "lib/file_areas.h"
#include "world/command_line.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// The consoles are built at compile time and never destroyed: static initialisers, the memory manager's
// exit-time flush and crash handlers may all print, before main and after the last destructor.
template <class T>
union ConsoleStorage {
    T console;
    explicit constexpr ConsoleStorage(bool debug) : console(debug) {}
    ~ConsoleStorage() {}
};

constinit ConsoleStorage<TConsole> g_debugConsoleStorage{true};
constinit ConsoleStorage<TConsole> g_releaseConsoleStorage{false};

// Keeps a line from two threads whole, on standard output and in the files. Nothing inside it allocates
// through the memory manager, which itself logs through the consoles.
constinit std::mutex g_consoleLock;

StackTraceFrame* g_runtimeStackHead = nullptr;
StackTraceFrame** g_stackHeadVariable = &g_runtimeStackHead;

}  // namespace

tagIConsole* DebugConsole = &g_debugConsoleStorage.console;
tagIConsole* ReleaseConsole = &g_releaseConsoleStorage.console;

void TConsole::Output(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    OutputV(format, args);
    va_end(args);
}

void TConsole::OutputV(const char* format, va_list args)
{
    if (!format) return;

    // The file gets the formatted bytes, never a format: text a script put in an argument stays text.
    char line[kLineCapacity];
    va_list forLine;
    va_copy(forLine, args);
    int formatted = std::vsnprintf(line, sizeof line, format, forLine);
    va_end(forLine);

    std::lock_guard<std::mutex> hold(g_consoleLock);
    if (!g_RunFlags.headless) {
        va_list forStdout;
        va_copy(forStdout, args);
        std::vprintf(format, forStdout);
        va_end(forStdout);
    }
    const char* fileName = m_debug ? g_RunFlags.debugOutputFile : g_RunFlags.outputFile;
    if (fileName && formatted > 0) {
        size_t length = formatted < kLineCapacity ? static_cast<size_t>(formatted) : kLineCapacity - 1;
        // Opened per line, so each line is on disk when Output returns and nothing is held open.
        if (FILE* file = File_OpenUtf8(fileName, "a+")) {
            std::fwrite(line, 1, length, file);
            std::fclose(file);
        }
    }
    std::fflush(stdout);
}

TErrStreamConsole::TErrStreamConsole() : m_capacity(kInitialCapacity), m_length(0)
{
    m_text = static_cast<char*>(MemoryManager::Alloc(static_cast<size_t>(m_capacity), __FILE__, __LINE__, true));
}

TErrStreamConsole::~TErrStreamConsole() { MemoryManager::Free(m_text); }

void TErrStreamConsole::Output(const char* format, ...)
{
    if (!format || !m_text) return;
    char piece[kPieceCapacity];
    va_list args;
    va_start(args, format);
    int formatted = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (formatted <= 0) return;
    // A formatted NUL ends the piece, as it would end the text.
    auto length = static_cast<int32_t>(std::strlen(piece));

    if (static_cast<int64_t>(m_length) + length + 2 >= m_capacity) {
        int64_t grown = static_cast<int64_t>(length) + m_capacity + 1024;
        if (grown > INT32_MAX) return;  // the text would outgrow its 32-bit capacity: drop the piece
        char* text = static_cast<char*>(
            MemoryManager::ReAlloc(m_text, static_cast<size_t>(grown), __FILE__, __LINE__));
        if (!text) return;
        m_text = text;
        m_capacity = static_cast<int32_t>(grown);
    }
    std::memcpy(m_text + m_length, piece, static_cast<size_t>(length) + 1);
    m_length += length;
}

void Console_FlushAll() { std::fflush(stdout); }

void StackTraceFrame::Pop(StackTraceFrame* frame) { *g_stackHeadVariable = frame->previous; }

void StackTrace_SetHead(StackTraceFrame** head) { g_stackHeadVariable = head ? head : &g_runtimeStackHead; }

StackTraceFrame** StackTrace_HeadVariable() { return g_stackHeadVariable; }

StackTraceFrame* StackTrace_Current() { return *g_stackHeadVariable; }

void StackTrace_Push(StackTraceFrame* frame, const char* codeName, int32_t line)
{
    frame->previous = *g_stackHeadVariable;
    frame->codeName = codeName;
    frame->line = line;
    *g_stackHeadVariable = frame;
}
