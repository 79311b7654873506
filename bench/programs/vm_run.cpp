// Runs one code entry of an assembled program and prints the processor time its run took (in seconds, start-up
// and loading left out) and its result: "vm_run FILE [ENTRY]" (ENTRY defaults to ksl_main). bench/vm_vs_lua runs
// it beside lua5.4 on the same programs. A text result prints as its length.
#include "core/code.h"
#include "core/constants.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/value.h"
#include "core/vm.h"
#include "net/net.h"
#include "world/builtin_variables.h"
#include "world/loader.h"
#include "world/runner.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

double ProcessSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: vm_run FILE [ENTRY]\n");
        return 2;
    }
    const std::string entry = argc > 2 ? argv[2] : "ksl_main";
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        std::fprintf(stderr, "vm_run: cannot read %s\n", argv[1]);
        return 1;
    }
    Code_Constant_Init();
    InitVariables();
    InitKSLFunctions();
    VM_Init();
    auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
    std::memcpy(data, bytes.data(), bytes.size());
    if (!Wad_ReadHeader(data, uint32_t(bytes.size())) || !Wad_LoadChunks(data, uint32_t(bytes.size()))) {
        std::fprintf(stderr, "vm_run: %s does not load\n", argv[1]);
        return 1;
    }
    for (int32_t i = 0; i < Script_Number(); ++i)
        if (CScript* s = Script_Data(i)) s->Compile();
    CCode* main = nullptr;
    for (uint32_t i = 0; i < g_GameData.codeCount; ++i) {
        auto* code = new CCode(int32_t(i), false);
        if (code->name && entry == code->name) main = code;
    }
    if (!main) {
        std::fprintf(stderr, "vm_run: no code entry %s\n", entry.c_str());
        return 1;
    }
    RValue result;
    RValue_SetUndefined(&result);
    const double start = ProcessSeconds();
    VM_Exec(main, nullptr, nullptr, &result, nullptr, 0, nullptr, nullptr);
    const double took = ProcessSeconds() - start;
    if (RValue_Kind(&result) == VALUE_REAL) std::printf("%.6f\t%.17g\n", took, result.real);
    else if (RValue_Kind(&result) == VALUE_STRING && result.str && result.str->text)
        std::printf("%.6f\t%zu\n", took, std::strlen(result.str->text));  // a text result by its length
    else std::printf("%.6f\t(kind %u)\n", took, RValue_Kind(&result));
    return 0;
}
