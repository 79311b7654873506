#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kvtest {

std::string g_scratchDir;

const std::string& ScratchDir() { return g_scratchDir; }

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name)
{
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (hadOld_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
}

std::string SourceDir()
{
    if (const char* env = std::getenv("KV_SOURCE_DIR"); env && *env) return env;
    namespace fs = std::filesystem;
    fs::path dir = fs::read_symlink("/proc/self/exe").parent_path();
    for (int up = 0; up < 4 && !dir.empty(); ++up, dir = dir.parent_path()) {
        std::ifstream cache(dir / "CMakeCache.txt");
        std::string line;
        const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
        while (std::getline(cache, line))
            if (line.rfind(key, 0) == 0) return line.substr(key.size());
    }
    return ".";
}

std::string ProbePath(const std::string& name)
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/probes/" + name;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kvtest
