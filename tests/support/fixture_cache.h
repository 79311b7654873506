// Generated test fixtures (game-data files, assembled bytecode, oracle tables) are made once per build
// folder and shared by every test process: each lives in <build>/fixture-cache/<hash>/, where the hash covers
// everything that decides its bytes. Plain C++ with no test framework, so the fixture tool can use it too.
#pragma once
#include <functional>
#include <string>

namespace kvtest {

// The Python interpreter chosen at configure time; KV_PYTHON in the environment replaces it.
const std::string& Python();

// The build folder: KV_BUILD_DIR when set, else the folder above this executable holding CMakeCache.txt.
std::string BuildDir();

// The source tree: KV_SOURCE_DIR when set, else the one the build folder was configured from.
std::string SourceDir();

// The folder (with a trailing '/') of the fixture that key names. When no process has made it yet, make
// fills a fresh folder and it becomes the fixture at once and whole; concurrent callers wait for it. key
// must hold everything the output depends on besides the generator sources, which are always part of it.
// On failure: an empty text, and why in *error.
std::string CachedFixture(const std::string& key, const std::function<bool(const std::string& folder)>& make,
                          std::string* error = nullptr);

// A word for the shell, in single quotes.
std::string ShellQuote(const std::string& word);

// Runs a shell command with its standard output sent to standard error, so that a tool printing a folder
// keeps its own output clean. On failure, false and the command in *error.
bool RunFixtureCommand(const std::string& command, std::string* error);

// Runs <python> <source>/<script> <folder> <args> once per build; args are shell words, already quoted.
std::string ScriptFixture(const std::string& script, const std::string& args = "", std::string* error = nullptr);

// Assembles source text with the formkit assembler into <folder><stem>.win and <stem>.tab, and
// <stem>.qzdebug when the source has source lines. options go to the assembler's command line.
std::string AssembledFixture(const std::string& source, const std::string& stem = "prog",
                             const std::string& options = "", std::string* error = nullptr);

// Text of a file ("" when it cannot be read) and a whole-file write.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace kvtest
