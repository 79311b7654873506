// Writes known lines through the two consoles, with the switches parsed from its own command line
// (-output, -debugoutput, -headless) as the runtime does. The first argument picks what is written:
//   lines    a release line, a debug line, and one of each whose argument text holds "%s%n%x"
//   long     one 1 MB line (plus newline) on each console
//   threads  4 threads x 300 lines on each console, every line tagged with its thread and number
#include "core/console.h"
#include "core/memory_manager.h"
#include "world/command_line.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

void WriteLines()
{
    ReleaseConsole->Output("release line %d\n", 1);
    DebugConsole->Output("debug line %s\n", "one");
    ReleaseConsole->Output("release text <%s> %d\n", "%s%n%x", 2);
    DebugConsole->Output("debug text <%s>\n", "100% %n%x%%");
}

void WriteLong()
{
    std::string text(1 << 20, 'x');
    for (size_t i = 0; i < text.size(); i += 64) text[i] = static_cast<char>('a' + (i / 64) % 26);
    ReleaseConsole->Output("%s\n", text.c_str());
    DebugConsole->Output("%s\n", text.c_str());
}

void WriteFromThreads()
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            std::string body(150, static_cast<char>('A' + t));
            for (int i = 0; i < 300; ++i) {
                ReleaseConsole->Output("T%d %04d %s\n", t, i, body.c_str());
                DebugConsole->Output("T%d %04d %s\n", t, i, body.c_str());
            }
        });
    for (auto& thread : threads) thread.join();
}

}  // namespace

int main(int argc, char** argv)
{
    char* commandLine = CommandLine_FromArgv(argc, argv);
    ParseCommandLine(commandLine);
    MemFree(commandLine);
    const char* mode = argc > 1 ? argv[1] : "";
    if (!std::strcmp(mode, "lines")) WriteLines();
    else if (!std::strcmp(mode, "long")) WriteLong();
    else if (!std::strcmp(mode, "threads")) WriteFromThreads();
    else return 2;
    Console_FlushAll();
    return 0;
}
