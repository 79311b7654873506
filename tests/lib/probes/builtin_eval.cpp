// Calls built-ins by name, one call per input line, for the oracle scripts.
//
// Input (stdin), one call per line, tokens separated by blanks:
//     <name> <value>...
// Output (stdout), one line per input line:
//     <value> [<error>...]
// A value token is a kind letter, a colon and a payload:
//     r:<real>   C99 hex float (or nan, inf, -inf, anything strtod reads); printed with %a
//     s:<hex>    string as hex bytes, "s:" is the empty string
//     i:<dec>    int32        l:<dec>  int64        b:0 / b:1  bool
//     u:         undefined    p:<hex>  pointer (printed only)
//     a:<rows>   array (printed only)        k<kind>:  any other kind (printed only)
// Every error the call reported follows its value: e:<hex> non-fatal, F:<hex> fatal, the hex bytes being
// the message without its frame. An unknown name prints "?:" followed by the name.
// Lines that are empty or start with '#' are skipped without output.
#include "core/console.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/vm.h"
#include "lib/lib.h"
#include "platform/hooks.h"
#include "world/command_line.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

std::vector<std::string> g_reports;

// Keeps each report's message body: the text between the header's blank lines and the closing rule.
struct ReportConsole final : tagIConsole {
    void Output(const char* format, ...) override __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        if (std::strcmp(format, "ERROR!!! :: %s\n") == 0) {
            const std::string text = va_arg(args, const char*);
            const bool fatal = text.find("FATAL ") != std::string::npos &&
                               text.find("FATAL ") < text.find("\n\n\n");
            size_t body = text.find("\n\n\n");
            body = body == std::string::npos ? 0 : body + 3;
            size_t end = text.find("\n" + std::string(92, '#'), body);
            if (end == std::string::npos) end = text.size();
            g_reports.push_back(std::string(fatal ? "F:" : "e:") + text.substr(body, end - body));
        }
        va_end(args);
    }
};

struct SilentConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};

std::string Hex(const char* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

bool ParseValue(const std::string& token, RValue* v)
{
    RValue_SetUndefined(v);
    if (token.size() < 2 || token[1] != ':') return false;
    const std::string payload = token.substr(2);
    switch (token[0]) {
    case 'r': RValue_SetReal(v, std::strtod(payload.c_str(), nullptr)); return true;
    case 's': RValue_SetString(v, Unhex(payload).c_str()); return true;
    case 'i': RValue_SetInt32(v, int32_t(std::strtol(payload.c_str(), nullptr, 10))); return true;
    case 'l': RValue_SetInt64(v, std::strtoll(payload.c_str(), nullptr, 10)); return true;
    case 'b': RValue_SetBool(v, payload == "1"); return true;
    case 'u': return true;
    default: return false;
    }
}

std::string FormatValue(RValue* v)
{
    char text[64];
    switch (RValue_Kind(v)) {
    case VALUE_REAL: std::snprintf(text, sizeof text, "r:%a", v->real); return text;
    case VALUE_STRING:
        return "s:" + (v->str && v->str->text ? Hex(v->str->text, size_t(v->str->length)) : std::string());
    case VALUE_INT32: return "i:" + std::to_string(v->v32);
    case VALUE_INT64: return "l:" + std::to_string(v->v64);
    case VALUE_BOOL: return v->real != 0 ? "b:1" : "b:0";
    case VALUE_UNDEFINED: return "u:";
    case VALUE_PTR: std::snprintf(text, sizeof text, "p:%" PRIxPTR, reinterpret_cast<uintptr_t>(v->ptr)); return text;
    case VALUE_ARRAY: return "a:" + std::to_string(v->arr ? v->arr->rowCount : 0);
    default: return "k" + std::to_string(RValue_Kind(v)) + ":";
    }
}

void IgnoreExit(int) {}

}  // namespace

int main()
{
    SilentConsole silent;
    ReportConsole reports;
    DebugConsole = &silent;
    ReleaseConsole = &reports;
    g_RunFlags.headless = true;
    Platform_SetExitHook(IgnoreExit);  // a fatal report is printed, and the next line goes on
    InitMathFunctions();
    InitMiscFunctions();
    std::unordered_map<std::string, int32_t> byName;
    for (int32_t i = Function_Count() - 1; i >= 0; --i) byName[Function_Entry(i)->name] = i;

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream tokens(line);
        std::string name, token;
        tokens >> name;
        std::vector<RValue> values;
        while (tokens >> token) {
            RValue v;
            ParseValue(token, &v);
            values.push_back(v);
        }
        const auto found = byName.find(name);
        if (found == byName.end()) {
            std::printf("?:%s\n", name.c_str());
        } else {
            std::vector<RValue*> pointers;
            for (RValue& v : values) pointers.push_back(&v);
            RValue result;
            RValue_SetUndefined(&result);
            Error_ResetState();
            g_reports.clear();
            CallBuiltin(nullptr, nullptr, &result, int32_t(values.size()), found->second,
                        pointers.empty() ? nullptr : pointers.data());
            std::string out = FormatValue(&result);
            for (const std::string& report : g_reports)
                out += " " + report.substr(0, 2) + Hex(report.data() + 2, report.size() - 2);
            std::printf("%s\n", out.c_str());
            RValue_Free(&result);
        }
        for (RValue& v : values) RValue_Free(&v);
        std::fflush(stdout);
    }
    return 0;
}
