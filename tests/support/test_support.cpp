#include "test_support.h"

#include "core/error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kvtest {

std::string g_scratchDir;

const std::string& ScratchDir() { return g_scratchDir; }

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name)
{
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (hadOld_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
}

std::string ReportedMessages(const std::string& text)
{
    const std::string start = "ERROR!!! :: " + std::string(92, '#') + "\n";
    const std::string hashRule = "\n" + std::string(92, '#') + "\n";
    const std::string dashRule = std::string(92, '-') + "\n";
    std::string out;
    size_t at = 0;
    for (;;) {
        const size_t report = text.find(start, at);
        const size_t body = report == std::string::npos ? report : text.find("\n\n\n", report);
        const size_t end = body == std::string::npos ? body : text.find(hashRule + dashRule, body);
        const size_t last = end == std::string::npos ? end : text.find("\n\n", end + hashRule.size());
        if (last == std::string::npos) break;
        out += text.substr(at, report - at);
        out += "ERROR!!! :: " + text.substr(body + 3, end - body - 3) + "\n";
        at = last + 2;
    }
    return out + text.substr(at);
}

void ForgetErrorAbort() { g_ErrorQuitting = false; }

std::string ProbePath(const std::string& name)
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/probes/" + name;
}

void RecordingConsole::Output(const char* format, ...)
{
    if (!format) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        size_t at = text.size();
        text.resize(at + static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data() + at, static_cast<size_t>(length) + 1, format, again);
        text.resize(at + static_cast<size_t>(length));
    }
    va_end(again);
}

}  // namespace kvtest
