// Script text reaching Base64_Decode: any bytes, any capacity. The first byte is the capacity (0 to 255);
// the rest, up to a NUL, is the text. Writes stay inside the capacity, and the bytes decoded encode back to
// the text's valid prefix.
#include "core/hash.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 16)) return 0;
    const int32_t capacity = data[0];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);  // stops at an embedded NUL
    const char* ctext = text.c_str();

    for (bool terminate : {false, true}) {
        // Exactly capacity bytes on the heap, so any write past them is seen.
        std::vector<uint8_t> out(static_cast<size_t>(capacity));
        int32_t n = Base64_Decode(ctext, capacity, out.data(), terminate);
        if (n < 0 || (capacity > 0 && n > capacity - 1) || (capacity == 0 && n != 0)) std::abort();
        if (terminate && capacity > 0 && out[n] != 0) std::abort();

        // With room for everything, the decoded bytes encode back to the valid prefix of the text.
        std::vector<uint8_t> full(3 * text.size() / 4 + 4);
        int32_t m = Base64_Decode(ctext, static_cast<int32_t>(full.size()), full.data(), terminate);
        if (n > m || (n > 0 && std::memcmp(out.data(), full.data(), static_cast<size_t>(n)) != 0)) std::abort();
        std::vector<char> again(4 * ((static_cast<size_t>(m) + 2) / 3) + 1);
        Base64_Encode(full.data(), static_cast<size_t>(m), again.data());
        size_t valid = std::strspn(ctext, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
        if (valid % 4 == 1) --valid;  // a single leftover character carries nothing
        // The re-encoding's last group may set bits the text left as junk; whole groups must agree.
        size_t whole = valid / 4 * 4;
        if (std::strncmp(again.data(), ctext, whole) != 0) std::abort();
    }
    return 0;
}
