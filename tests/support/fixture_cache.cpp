#include "fixture_cache.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#ifndef KV_PYTHON_DEFAULT
#error "KV_PYTHON_DEFAULT names the Python interpreter found at configure time"
#endif

namespace fs = std::filesystem;

namespace kvtest {

namespace {

uint64_t Fnv1a(const std::string& text, uint64_t hash)
{
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// Two independent 64-bit hashes: a collision would hand a test another fixture's files.
std::string HashName(const std::string& text)
{
    char name[40];
    std::snprintf(name, sizeof name, "%016llx%016llx",
                  static_cast<unsigned long long>(Fnv1a(text, 14695981039346656037ull)),
                  static_cast<unsigned long long>(Fnv1a(text, 0x9e3779b97f4a7c15ull)));
    return name;
}

// The names and texts of the Python files below dir, in name order.
std::string PythonSources(const fs::path& dir, bool recursive)
{
    std::vector<fs::path> files;
    std::error_code ec;
    auto take = [&](const fs::directory_entry& e) {
        if (e.is_regular_file() && e.path().extension() == ".py") files.push_back(e.path());
    };
    if (recursive)
        for (const auto& e : fs::recursive_directory_iterator(dir, ec)) take(e);
    else
        for (const auto& e : fs::directory_iterator(dir, ec)) take(e);
    std::sort(files.begin(), files.end());
    std::string text;
    for (const auto& f : files) {
        std::string body = ReadFile(f.string());
        text += fs::relative(f, dir).string() + '\n' + std::to_string(body.size()) + '\n' + body;
    }
    return text;
}

// Every generator imports formkit: its sources are part of every key.
const std::string& FormkitSources()
{
    static const std::string text = PythonSources(fs::path(SourceDir()) / "tools" / "formkit", true);
    return text;
}

}  // namespace

std::string ShellQuote(const std::string& word)
{
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool RunFixtureCommand(const std::string& command, std::string* error)
{
    const int rc = std::system(("(" + command + ") 1>&2").c_str());
    if (rc == 0) return true;
    if (error) *error = "failed (" + std::to_string(rc) + "): " + command;
    return false;
}

namespace {

// Holds an exclusive lock on a file for its lifetime.
class FileLock {
public:
    explicit FileLock(const std::string& path) : fd_(open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644))
    {
        if (fd_ >= 0)
            while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
    }
    ~FileLock()
    {
        if (fd_ >= 0) close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

}  // namespace

const std::string& Python()
{
    static const std::string python = [] {
        const char* env = std::getenv("KV_PYTHON");
        return std::string(env && *env ? env : KV_PYTHON_DEFAULT);
    }();
    return python;
}

// The folder up to four levels above dir that holds CMakeCache.txt, and the cache's line for key.
static fs::path FindBuildFolder(std::string* value, const std::string& key)
{
    std::error_code ec;
    fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 4 && !dir.empty(); ++up, dir = dir.parent_path()) {
        std::ifstream cache(dir / "CMakeCache.txt");
        if (!cache) continue;
        std::string line;
        while (value && std::getline(cache, line))
            if (line.rfind(key, 0) == 0) *value = line.substr(key.size());
        return dir;
    }
    return {};
}

std::string BuildDir()
{
    if (const char* env = std::getenv("KV_BUILD_DIR"); env && *env) return env;
    return FindBuildFolder(nullptr, "").string();
}

std::string SourceDir()
{
    if (const char* env = std::getenv("KV_SOURCE_DIR"); env && *env) return env;
    std::string home;
    FindBuildFolder(&home, "CMAKE_HOME_DIRECTORY:INTERNAL=");
    return home.empty() ? "." : home;
}

std::string CachedFixture(const std::string& key, const std::function<bool(const std::string& folder)>& make,
                          std::string* error)
{
    if (error) error->clear();
    const std::string build = BuildDir();
    if (build.empty()) {
        if (error) *error = "no build folder (set KV_BUILD_DIR)";
        return {};
    }
    const fs::path root = fs::path(build) / "fixture-cache";
    const std::string name = HashName(FormkitSources() + '\0' + key);
    const fs::path done = root / name;
    if (fs::is_directory(done)) return done.string() + "/";

    std::error_code ec;
    fs::create_directories(root, ec);
    FileLock lock((root / (name + ".lock")).string());
    if (!lock.Held()) {
        if (error) *error = "cannot lock " + (root / name).string() + ": " + std::strerror(errno);
        return {};
    }
    if (fs::is_directory(done)) return done.string() + "/";  // made while this process waited

    std::string work = (root / (name + ".tmp.XXXXXX")).string();
    if (!mkdtemp(work.data())) {
        if (error) *error = "cannot make " + work + ": " + std::strerror(errno);
        return {};
    }
    if (!make(work + "/")) {
        fs::remove_all(work, ec);
        if (error && error->empty()) *error = "the fixture generator failed";
        return {};
    }
    if (rename(work.c_str(), done.c_str()) != 0) {
        if (error) *error = "cannot rename " + work + ": " + std::strerror(errno);
        fs::remove_all(work, ec);
        return {};
    }
    return done.string() + "/";
}

std::string ScriptFixture(const std::string& script, const std::string& args, std::string* error)
{
    const fs::path path = fs::path(SourceDir()) / script;
    const std::string key = "script\n" + script + '\n' + args + '\n' + PythonSources(path.parent_path(), false);
    return CachedFixture(
        key,
        [&](const std::string& folder) {
            return RunFixtureCommand(ShellQuote(Python()) + " -B " + ShellQuote(path.string()) + " " + ShellQuote(folder) + " " + args, error);
        },
        error);
}

std::string AssembledFixture(const std::string& source, const std::string& stem, const std::string& options,
                             std::string* error)
{
    const std::string key = "asm\n" + stem + '\n' + options + '\n' + source;
    return CachedFixture(
        key,
        [&](const std::string& folder) {
            const std::string out = folder + stem;
            WriteFile(out + ".kvs", source);
            return RunFixtureCommand("PYTHONPATH=" + ShellQuote(SourceDir() + "/tools") + " " + ShellQuote(Python()) + " -B -m formkit.asm " +
                           ShellQuote(out + ".kvs") + " -o " + ShellQuote(out + ".win") + " --tables " + ShellQuote(out + ".tab") +
                           " --listing " + ShellQuote(out + ".lst") + " " + options,
                       error);
        },
        error);
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
