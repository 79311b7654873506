// The fixture cache for the end-to-end scripts: prints the folder of a fixture, making it first when no
// test of this build has made it yet.
//   kv_fixture script <script under the source tree> [argument ...]
//   kv_fixture asm <file.kvs> [stem]        (<stem>.win, .tab, .lst and .qzdebug; stem defaults to the file's)
#include "fixture_cache.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    const std::string verb = argc > 1 ? argv[1] : "";
    if (argc < 3 || (verb != "script" && verb != "asm")) {
        std::fprintf(stderr, "usage: kv_fixture script SCRIPT [ARG...] | kv_fixture asm FILE.kvs [STEM]\n");
        return 2;
    }
    std::string folder, error;
    if (verb == "script") {
        std::string args;
        for (int i = 3; i < argc; ++i) args += " " + kvtest::ShellQuote(argv[i]);
        folder = kvtest::ScriptFixture(argv[2], args, &error);
    } else {
        const std::string stem = argc > 3 ? argv[3] : std::filesystem::path(argv[2]).stem().string();
        std::error_code ec;
        if (!std::filesystem::is_regular_file(argv[2], ec)) {
            std::fprintf(stderr, "kv_fixture: no file %s\n", argv[2]);
            return 1;
        }
        folder = kvtest::AssembledFixture(kvtest::ReadFile(argv[2]), stem, "", &error);
    }
    if (folder.empty()) {
        std::fprintf(stderr, "kv_fixture: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", folder.c_str());
    return 0;
}
