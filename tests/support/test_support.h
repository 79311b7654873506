// Helpers shared by the GoogleTest suites.
#pragma once
#include "core/console.h"
#include "fixture_cache.h"

#include <string>

namespace kvtest {

// The scratch folder this test process runs in (also HOME; XDG folders lie below it).
const std::string& ScratchDir();

// Sets or unsets an environment variable for the rest of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);  // value null: unset
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
private:
    std::string name_, old_;
    bool hadOld_;
};

// Full path of a probe program (tests/<area>/probes/<name>.cpp), built beside the test executables.
std::string ProbePath(const std::string& name);

// A console that keeps what it was asked to print (install it in place of DebugConsole / ReleaseConsole).
struct RecordingConsole final : tagIConsole {
    std::string text;
    void Output(const char* format, ...) override __attribute__((format(printf, 2, 3)));
};

// The text with every framed error report ("ERROR!!! :: " and the ruled frame) reduced to
// "ERROR!!! :: <message>\n", for tests that check what was reported rather than the frame.
std::string ReportedMessages(const std::string& text);
// Lets one test raise several fatal reports: in a real run the first would have ended the process.
void ForgetErrorAbort();

}  // namespace kvtest
