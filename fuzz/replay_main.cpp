// Replays every file of the given files or folders through the fuzz entry point (non-fuzzing builds).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int Replay(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

int main(int argc, char** argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file()) count += Replay(e.path());
        } else if (std::filesystem::exists(p)) {
            count += Replay(p);
        } else {
            std::fprintf(stderr, "replay: %s does not exist\n", argv[i]);
            return 2;
        }
    }
    std::printf("replayed %d inputs\n", count);
    return count > 0 ? 0 : 2;
}
