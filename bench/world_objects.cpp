// Walking the instances of a parent object through its descendant list: a parent whose three children
// hold 10,000 of 100,000 instances (the others belong to seven unrelated objects, added interleaved so
// the list nodes are spread as a running room spreads them), against a std::vector of the same 10,000
// pointers. Target: the list walk within 3x of the vector.
#include "world/object.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int kObjectsBenchTotal = 100000;
constexpr int kObjectsBenchOfParent = 10000;

struct ObjectsBenchWorld {
    int32_t parent = -1;
    std::vector<char> instances = std::vector<char>(kObjectsBenchTotal * 64);
    std::vector<CInstance*> ofParent;

    ObjectsBenchWorld()
    {
        Object_FreeAll();
        parent = Object_Add();
        std::vector<int32_t> children, others;
        for (int i = 0; i < 3; ++i) {
            children.push_back(Object_Add());
            Object_Data(children.back())->SetParent(parent);
        }
        for (int i = 0; i < 7; ++i) others.push_back(Object_Add());
        // Every tenth instance is one of the parent's children's.
        for (int i = 0; i < kObjectsBenchTotal; ++i) {
            auto* instance = reinterpret_cast<CInstance*>(&instances[size_t(i) * 64]);
            if (i % (kObjectsBenchTotal / kObjectsBenchOfParent) == 0) {
                Object_Data(children[size_t(i) % 3])->AddInstance(instance);
                ofParent.push_back(instance);
            } else {
                Object_Data(others[size_t(i) % 7])->AddInstance(instance);
            }
        }
    }
    ~ObjectsBenchWorld() { Object_FreeAll(); }
};

ObjectsBenchWorld& ObjectsBench_World()
{
    static ObjectsBenchWorld world;
    return world;
}

void BM_DescendantListWalk(benchmark::State& state)
{
    ObjectsBenchWorld& world = ObjectsBench_World();
    const CObject* parent = Object_Data(world.parent);
    for (auto _ : state) {
        uintptr_t sum = 0;
        int32_t n = 0;
        for (auto* node = parent->instancesRecursive.head; node; node = node->next, ++n)
            sum += reinterpret_cast<uintptr_t>(node->value);
        benchmark::DoNotOptimize(sum);
        if (n != kObjectsBenchOfParent) state.SkipWithError("wrong instance count");
    }
    state.SetItemsProcessed(state.iterations() * kObjectsBenchOfParent);
}
BENCHMARK(BM_DescendantListWalk);

void BM_DescendantVectorWalk(benchmark::State& state)
{
    ObjectsBenchWorld& world = ObjectsBench_World();
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (CInstance* instance : world.ofParent) sum += reinterpret_cast<uintptr_t>(instance);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kObjectsBenchOfParent);
}
BENCHMARK(BM_DescendantVectorWalk);

}  // namespace
