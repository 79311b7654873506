// The command line: raw text, tokens, the argument table and the run-wide switches.
#pragma once
#include <cstdint>

constexpr int ARGUMENT_TABLE_SIZE = 100;

// Every token of the last parse, program path first; parameter_count / parameter_string read it.
struct ArgumentTable {
    char* args[ARGUMENT_TABLE_SIZE];
    int count;
};
extern ArgumentTable g_ArgumentTable;

// The switches the options set. Texts are memory-manager copies (null when not given).
struct RunFlags {
    // Reset by every parse.
    bool debug;            // -debug took effect
    bool extCallsSkipped;  // -ext: external library calls return at once
    bool record;
    bool playback;
    bool codeExecution;    // cleared by -oldexec
    bool audio;            // cleared by -noaudio
    bool inAWindow;
    // Kept across parses until given again.
    bool trace;
    bool software;
    bool intel;
    bool audioDebug;
    bool networkDebug;
    bool vanillaGFX;
    bool headless;
    bool steam;            // external calls forbidden
    bool multiVB;
    bool noVB;
    bool compressTextures;
    bool manualVSync;
    bool noDirectInput;
    bool sleepMarginSet;   // options.ini's SleepMargin is then ignored
    int32_t sleepMargin;   // milliseconds, 0..3000
    int32_t profileDumpInterval;
    char* exitFile;
    char* dirPath;
    char* recordFile;      // shared by -record and -playback
    char* outputFile;
    char* debugOutputFile;
    char* profileDumpFile;
};
extern RunFlags g_RunFlags;

// The raw command line of the current run cycle (memory-manager text).
extern char* g_RawCommandLine;

// argv joined by blanks; an empty argument, or one holding a byte 0x01-0x20, is wrapped in quotes.
char* CommandLine_FromArgv(int argc, const char* const* argv);

// Reads one token at position into the token buffer and appends a copy to the argument table.
// Returns the position after the token; at the end nothing is read or appended.
const char* CommandLine_NextToken(const char* position, const char* text);
const char* CommandLine_Token();

void ParseCommandLine(const char* text);

// Restores every switch and text to its process-start state (tests, and process start).
void RunFlags_ResetAll();
