// The log interface every subsystem prints through, the two process-wide consoles, the growing
// text console that error reports are built in, and the script call-stack chain.
#pragma once
#include <cstdarg>
#include <cstdint>

struct tagIConsole {
    virtual ~tagIConsole() = default;
    // Returns true in both implementations; nothing calls it.
    virtual bool Query(int, int) { return true; }
    virtual void Output(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
};

// Writes each line to standard output (unless the run is headless) and appends it to the log file the
// command line named for this console: -debugoutput for the debug console, -output for the release one.
class TConsole final : public tagIConsole {
public:
    // Bytes of one line in the log file, terminator included; standard output gets the whole text.
    static constexpr int kLineCapacity = 4096;

    explicit constexpr TConsole(bool debug) : m_debug(debug) {}
    void Output(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    void OutputV(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
    bool IsDebug() const { return m_debug; }

private:
    bool m_debug;
};

// Collects text in a growing memory-manager block (the long texts of error reports). Main thread only.
class TErrStreamConsole final : public tagIConsole {
public:
    static constexpr int32_t kInitialCapacity = 102400;
    // Bytes of one Output call, terminator included; longer pieces are cut.
    static constexpr int kPieceCapacity = 16384;

    TErrStreamConsole();
    ~TErrStreamConsole() override;
    TErrStreamConsole(const TErrStreamConsole&) = delete;
    TErrStreamConsole& operator=(const TErrStreamConsole&) = delete;

    void Output(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    const char* Text() const { return m_text; }
    int32_t Length() const { return m_length; }
    int32_t Capacity() const { return m_capacity; }

private:
    int32_t m_capacity;
    int32_t m_length;  // strlen(m_text), kept so appends do not rescan the text
    char* m_text;
};

// The runtime's own diagnostics, and the script-facing log (errors, show_debug_message).
extern tagIConsole* DebugConsole;
extern tagIConsole* ReleaseConsole;

// Flushes what the consoles have buffered (before the process exits).
void Console_FlushAll();

// One entry of the script call stack. Compiled code keeps it on its own stack: entry links it in front of
// the head, every exit unlinks it; the interpreter does the same around each built-in call (line -1).
struct StackTraceFrame {
    StackTraceFrame* previous;
    const char* codeName;  // a constant text, e.g. "ksl_Script_scr_gameover"
    int32_t line;

    // head = frame->previous.
    static void Pop(StackTraceFrame* frame);
};

// The head variable lives in the game's link record (GameLinkData::stackTraceHead); start-up hands its
// address over. Until then, and after StackTrace_SetHead(nullptr), a private head of the runtime is used.
// Switch only while no frame is linked: the chain is not carried over.
void StackTrace_SetHead(StackTraceFrame** head);
StackTraceFrame** StackTrace_HeadVariable();
// The innermost frame, or null.
StackTraceFrame* StackTrace_Current();
// Fills the frame and links it in front of the head.
void StackTrace_Push(StackTraceFrame* frame, const char* codeName, int32_t line);
