// Vector-sprite data: a length word and a zlib stream, decompressed into a new stream. Corrupt lengths,
// dictionaries, truncation and bit flips must give null or a stream, never a read outside the input, and
// every block the inflate made must be returned.
#include "core/console.h"
#include "core/memory_manager.h"
#include "core/stream.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20)) return 0;
    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    {
        // Mode bit 0: frame the rest with its true length (so the fuzzer reaches the inflater at once);
        // otherwise the bytes are taken as they are, length word included.
        CStream source(0);
        const uint8_t mode = data[0];
        if (mode & 1) source.WriteInteger(static_cast<int32_t>(size - 1));
        source.WriteBuffer(data + 1, static_cast<int64_t>(size - 1));
        source.SetPosition(0);
        CStream* out = ZDecompressStream(&source);
        if (out) {
            if (out->GetPosition() != 0 || out->GetSize() < 0) std::abort();
            out->Delete();
        }
        if (source.GetPosition() < 0 || source.GetPosition() > source.GetSize()) std::abort();

        // The raw inflater over the same bytes, appending after what the destination holds.
        CStream raw(0), dest(0);
        raw.WriteBuffer(data + 1, static_cast<int64_t>(size - 1));
        raw.SetPosition(0);
        dest.WriteInteger(7);
        ZInflateStream(&raw, &dest);
    }
    if (MemoryManager_Probe().liveBlocks != liveBefore) std::abort();
    return 0;
}
