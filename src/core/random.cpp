#include "core/random.h"

namespace {

constexpr uint32_t kMaskCurrent = 0xDA442D24u;
constexpr uint32_t kMaskOld = 0xDA442D20u;

struct RandomGenerator {
    uint32_t state[16];
    uint32_t index;
    uint32_t mask;
    uint32_t seed;
};

constexpr void RandomFill(RandomGenerator& g, int32_t seed)
{
    g.seed = static_cast<uint32_t>(seed);
    uint32_t x = static_cast<uint32_t>(seed);
    for (uint32_t& word : g.state) {
        // The shift is arithmetic on the signed value: a negative intermediate leaves bits 16 to 30 set.
        auto mixed = static_cast<int32_t>(x * 214013u + 2531011u);
        x = static_cast<uint32_t>(mixed >> 16) & 0x7FFFFFFFu;
        word = x;
    }
    g.index = 0;
}

constexpr RandomGenerator RandomSeededWithZero()
{
    RandomGenerator g{};
    g.mask = kMaskCurrent;
    RandomFill(g, 0);
    return g;
}

// Seeded with 0 at compile time, so code running before main already draws a fixed sequence.
constinit RandomGenerator g_random = RandomSeededWithZero();

}  // namespace

int32_t Random_Seed(int32_t seed)
{
    RandomFill(g_random, seed);
    return seed;
}

uint32_t Random_GetSeed() { return g_random.seed; }

void Random_SetOldVersion(bool oldVersion) { g_random.mask = oldVersion ? kMaskOld : kMaskCurrent; }

bool Random_IsOldVersion() { return g_random.mask == kMaskOld; }

uint32_t Random_Next()
{
    uint32_t* s = g_random.state;
    uint32_t i = g_random.index;
    uint32_t a = s[i];
    uint32_t c = s[(i + 13) & 15];
    uint32_t b = a ^ c ^ (a << 16) ^ (c << 15);
    c = s[(i + 9) & 15];
    c ^= c >> 11;
    a = s[i] = b ^ c;
    uint32_t d = a ^ ((a << 5) & g_random.mask);
    i = (i + 15) & 15;
    a = s[i];
    s[i] = a ^ b ^ d ^ (a << 2) ^ (b << 18) ^ (c << 28);
    g_random.index = i;
    return s[i];
}

double Random_Real(double x) { return x * (static_cast<double>(Random_Next()) / 4294967296.0); }

uint32_t Random_Int(int32_t n)
{
    // Callers pass counts they computed; a zero count would divide by zero.
    if (n == 0) return 0;
    uint32_t range = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
    return Random_Next() % range;
}

uint32_t Random_StateWord(int i) { return g_random.state[i & 15]; }

int Random_Index() { return static_cast<int>(g_random.index); }
