// Data-structure text: hex digits up to the first NUL become a stream (FromHex); the bytes after it drive
// seeks, reads and strings on that stream. Nothing may read outside the memory, and the hex form must
// give back exactly the well-formed pairs.
#include "core/memory_manager.h"
#include "core/stream.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int FuzzHex_Digit(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<unsigned char>(std::tolower(c));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

int64_t FuzzHex_Take64(const uint8_t*& p, const uint8_t* end)
{
    int64_t v = 0;
    for (int i = 0; i < 8 && p < end; ++i) v |= static_cast<int64_t>(*p++) << (8 * i);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    {
        const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
        std::string text(reinterpret_cast<const char*>(data), nul ? static_cast<size_t>(nul - data) : size);
        const uint8_t* p = nul ? nul + 1 : data + size;
        const uint8_t* end = data + size;

        // What FromHex must make of the text.
        std::string expected;
        for (size_t i = 0; i + 1 < text.size(); i += 2) {
            int hi = FuzzHex_Digit(text[i]), lo = FuzzHex_Digit(text[i + 1]);
            if (hi >= 0 && lo >= 0) expected += static_cast<char>(hi << 4 | lo);
        }
        CStream s(0);
        s.WriteBuffer("seed", 4);
        s.FromHex(text.c_str());
        if (!text.empty()) {
            if (s.GetSize() != static_cast<int32_t>(expected.size()) || s.GetPosition() != 0) std::abort();
            if (!expected.empty() && std::memcmp(s.GetMemory(), expected.data(), expected.size()) != 0) std::abort();
            s.SetPosition(s.GetSize());
            char* hex = nullptr;
            int32_t count = s.ToHex(&hex);
            if (count != s.GetSize() || (count > 0) != (hex != nullptr)) std::abort();
            if (hex && std::strlen(hex) != 2 * static_cast<size_t>(count)) std::abort();
            MemFree(hex);
        }

        // Operations: one byte of kind, then an 8-byte argument.
        char buf[512];
        while (p < end) {
            const uint8_t op = *p++;
            const int64_t arg = FuzzHex_Take64(p, end);
            switch (op % 8) {
            case 0: s.Seek(arg, op >> 3 & 3); break;
            case 1: s.ReadInteger(); break;
            case 2: s.ReadInt64(); break;
            case 3: s.ReadReal(); break;
            case 4: {
                char* t = nullptr;
                s.ReadString(&t);
                MemFree(t);
                break;
            }
            case 5: s.ReadBuffer(buf, arg & 511); break;
            case 6:
                // Writes grow the memory up to the position: keep them near the data.
                if (s.Seek(0, 1) < (1 << 16)) s.WriteBuffer(buf, arg & 255);
                break;
            default: {
                CStream view(0);
                view.CopyFrom(&s, arg, op & 8);
                char* t = nullptr;
                view.SetPosition(0);
                view.ReadString(&t);
                MemFree(t);
                break;
            }
            }
            const int64_t pos = s.Seek(0, 1);
            if (s.Remaining() < 0 || (pos >= 0 && pos < s.GetSize() && s.Remaining() != s.GetSize() - pos)) std::abort();
        }
    }
    if (MemoryManager_Probe().liveBlocks != liveBefore) std::abort();
    return 0;
}
