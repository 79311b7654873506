// The message pump runs every few thousand bytecode branches and in the frame-sleep spin: with nothing
// pending it must cost about what SDL's own pump and poll cost, and next to nothing without video.
#include "platform/messages.h"
#include "platform/platform.h"

#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

[[gnu::noinline]] void EmptyFunction() { benchmark::ClobberMemory(); }

void BM_EmptyFunction(benchmark::State& state)
{
    for (auto _ : state) EmptyFunction();
}

void BM_ProcessMessagesWithoutVideo(benchmark::State& state)
{
    for (auto _ : state) ProcessMessages();
}

struct VideoUp {
    VideoUp()
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        Platform_StartVideo();
    }
    ~VideoUp() { Platform_StopVideo(); }
};

void BM_BareSdlPumpAndPoll(benchmark::State& state)
{
    VideoUp video;
    SDL_Event event;
    for (auto _ : state) {
        SDL_PumpEvents();
        benchmark::DoNotOptimize(SDL_PollEvent(&event));
    }
}

void BM_ProcessMessagesWithVideo(benchmark::State& state)
{
    VideoUp video;
    for (auto _ : state) ProcessMessages();
}

}  // namespace

BENCHMARK(BM_EmptyFunction);
BENCHMARK(BM_ProcessMessagesWithoutVideo);
BENCHMARK(BM_BareSdlPumpAndPoll);
BENCHMARK(BM_ProcessMessagesWithVideo);
