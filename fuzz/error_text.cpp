// Error texts from arbitrary bytes: the dialog reflow, the UTF-8 clean-up for the dialog, the framed text
// and event names for any type and sub-number. Layout: 4 bytes type, 4 bytes sub-number, then the text.
#include "core/error.h"
#include "platform/error_dialog.h"
#include "world/event_names.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Every well-formed sequence of the clean-up's output decodes; no byte starts an ill-formed one.
void ErrorTextFuzz_CheckUtf8(const std::string& text)
{
    if (Platform_ValidUtf8(text.c_str()) != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8) return 0;
    int32_t type = 0, sub = 0;
    std::memcpy(&type, data, 4);
    std::memcpy(&sub, data + 4, 4);
    const std::string text(reinterpret_cast<const char*>(data + 8), size - 8);  // stops at a NUL when read as C text

    const std::string shown = Error_DialogText(text.c_str());
    if (shown.compare(0, 47, "\r\n" + std::string(43, '_') + "\r\n") != 0) std::abort();
    ErrorTextFuzz_CheckUtf8(Platform_ValidUtf8(text.c_str()));
    ErrorTextFuzz_CheckUtf8(Platform_ErrorDialogShownText(text.c_str()));

    const char* name = GetEventName(type, sub);
    if (!name || std::strlen(name) > 511) std::abort();
    if (std::strlen(GetKeyName(sub)) > 63) std::abort();

    event_type = type;
    event_number = sub;
    event_object = sub;
    if (Error_BuildText(text.c_str(), (type & 1) != 0).empty()) std::abort();
    return 0;
}
