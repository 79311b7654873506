// ds_list, ds_stack and ds_queue: growth steps, slot states, the insertion sort, the shuffle's draws and the
// queue's compaction.
#include "ds_test_util.h"

#include "core/random.h"

#include <functional>

namespace {

using namespace dstest;

std::vector<std::string> DsSeq_Items(CDS_List& l)
{
    std::vector<std::string> out;
    for (int32_t i = 0; i < l.Size(); ++i) out.push_back(Describe(*l.GetItem(i)));
    return out;
}

using Texts = std::vector<std::string>;

class DsSequences : public DsTest {};

TEST_F(DsSequences, GrowthSteps)
{
    // Append: 16 at a time up to 128, then an eighth.
    CDS_List list;
    std::vector<int32_t> seen;
    for (int i = 0; i < 200; ++i) {
        list.Add(Real(i));
        if (seen.empty() || seen.back() != list.Capacity()) seen.push_back(list.Capacity());
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{16, 32, 48, 64, 80, 96, 112, 128, 144, 162, 182, 204}));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(list.GetItem(i)->real, i);

    // Insert, set, push and enqueue: the count (the queue: its tail) plus 16.
    struct Case {
        const char* what;
        std::function<int32_t(int)> grow;  // the capacity after n + 1 operations
    };
    CDS_List inserted, set;
    CDS_Stack stack;
    CDS_Queue queue;
    const Case cases[] = {
        {"insert", [&](int n) { inserted.Insert(n, Real(n)); return inserted.Capacity(); }},
        {"set", [&](int n) { set.Set(n, Real(n), nullptr); return set.Capacity(); }},
        {"push", [&](int n) { stack.Push(Real(n)); return stack.Capacity(); }},
        {"enqueue", [&](int n) { queue.Enqueue(Real(n)); return queue.Capacity(); }},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> steps;
        for (int n = 0; n < 40; ++n) {
            const int32_t capacity = c.grow(n);
            if (steps.empty() || steps.back() != capacity) steps.push_back(capacity);
        }
        // Set grows when the count reaches the capacity (a step sooner than the others).
        const std::vector<int32_t> expected =
            std::string(c.what) == "set" ? std::vector<int32_t>{17, 33, 49} : std::vector<int32_t>{16, 32, 48};
        EXPECT_EQ(steps, expected) << c.what;
    }
}

TEST_F(DsSequences, ListEdgeCases)
{
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"insert at the count appends; past it nothing",
         [] {
             CDS_List l;
             l.Add(Real(1));
             l.Insert(1, Real(2));
             l.Insert(3, Real(3));
             l.Insert(-1, Real(3));
             l.Insert(0, Str("a"));
             EXPECT_EQ(DsSeq_Items(l), (Texts{"string:a", "real:1", "real:2"}));
         }},
        {"set beyond the end of a never-used list: the gap reads as real 0",
         [] {
             CDS_List l;
             l.Set(5, Str("x"), nullptr);
             EXPECT_EQ(DsSeq_Items(l), (Texts{"real:0", "real:0", "real:0", "real:0", "real:0", "string:x"}));
         }},
        {"after a clear the gap shows undefined slots, then never-used ones",
         [] {
             CDS_List l;
             for (int i = 0; i < 3; ++i) l.Add(Str("s"));
             l.Clear();
             Held previous;
             l.Set(4, Real(9), &previous.v);
             EXPECT_EQ(DsSeq_Items(l), (Texts{"undefined", "undefined", "undefined", "real:0", "real:9"}));
             EXPECT_EQ(Describe(previous), "real:0");
         }},
        {"delete moves down and leaves real 0 behind",
         [] {
             CDS_List l;
             for (int i = 1; i <= 3; ++i) l.Add(Real(i));
             l.Delete(0);
             l.Delete(5);
             EXPECT_EQ(DsSeq_Items(l), (Texts{"real:2", "real:3"}));
             l.Set(3, Str("x"), nullptr);
             EXPECT_EQ(DsSeq_Items(l), (Texts{"real:2", "real:3", "real:0", "string:x"}));
         }},
        {"replace only inside the count; find index within the precision",
         [] {
             CDS_List l;
             l.Add(Real(1));
             l.Add(Real(1.4));
             l.Replace(0, Str("r"));
             l.Replace(2, Str("no"));
             EXPECT_EQ(DsSeq_Items(l), (Texts{"string:r", "real:1.3999999999999999"}));
             EXPECT_EQ(l.FindIndex(Real(1)), -1);
             DS_SetPrecision(0.5);
             EXPECT_EQ(l.FindIndex(Real(1)), 1);
             EXPECT_EQ(l.FindIndex(Str("r")), 0);
         }},
        {"a list added to itself by one of its own slots",
         [] {
             CDS_List l;
             l.Add(Str("self"));
             for (int i = 0; i < 40; ++i) l.Add(*l.GetItem(0));  // the block moves while the value is read
             EXPECT_EQ(l.Size(), 41);
             EXPECT_EQ(Describe(*l.GetItem(40)), "string:self");
         }},
        {"assign copies count, capacity and every slot; onto itself nothing",
         [] {
             CDS_List a, b;
             for (int i = 0; i < 20; ++i) a.Add(Real(i));
             a.Delete(19);
             b.Add(Str("old"));
             b.Assign(a);
             EXPECT_EQ(DsSeq_Items(b), DsSeq_Items(a));
             EXPECT_EQ(b.Capacity(), a.Capacity());
             b.Assign(b);
             EXPECT_EQ(b.Size(), 19);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DS_SetPrecision(0.00000001);
        c.run();
    }
}

TEST_F(DsSequences, ListSort)
{
    // Tagged values: a and b equal within the precision, told apart by their bits.
    const double a = 1.0, b = 1.000000001;
    struct Case {
        const char* what;
        std::vector<Held> items;
        bool ascending;
        Texts expected;
    };
    const Case cases[] = {
        {"mixed kinds ascending: numbers before strings", {Real(2), Str("a"), Real(1)}, true,
         {"real:1", "real:2", "string:a"}},
        {"int32 1 and real 1 descending swap", {Int32(1), Real(1)}, false, {"real:1", "int32:1"}},
        {"ascending keeps equal elements in order", {Real(a), Real(2), Real(b)}, true,
         {"real:1", "real:1.0000000010000001", "real:2"}},
        {"descending reverses an equal run", {Real(a), Real(2), Real(b), Real(0)}, false,
         {"real:2", "real:1.0000000010000001", "real:1", "real:0"}},
        // Undefined against a string is "greater" both ways: each sinks past the other when met.
        {"strings bytewise; undefined and strings never compare equal", {Str("b"), Undef(), Str("B"), Undef()}, true,
         {"string:B", "undefined", "undefined", "string:b"}},
    };
    for (const Case& c : cases) {
        CDS_List l;
        for (const Held& h : c.items) l.Add(h);
        l.Sort(c.ascending);
        EXPECT_EQ(DsSeq_Items(l), c.expected) << c.what;
    }
    // Values scripts can hand over: NaN, infinities, arrays; the sort ends and keeps every element.
    CDS_List l;
    Held arr = Array({{Real(1)}});
    for (const RValue& v : {Real(std::nan("")), Real(INFINITY), arr.v, Real(-INFINITY), Real(std::nan("")), Real(3)})
        l.Add(v);
    l.Sort(true);
    l.Sort(false);
    EXPECT_EQ(l.Size(), 6);
}

// Seeds the generator, runs the shuffle, and checks it against the same seed's plain draws.
template <class Shuffle>
void DsSeq_CheckShuffleDraws(int32_t draws, int32_t modulus, Shuffle&& shuffle)
{
    Random_Seed(1234);
    shuffle();
    std::vector<uint32_t> after;
    for (int i = 0; i < 16; ++i) after.push_back(Random_StateWord(i));
    const int index = Random_Index();
    Random_Seed(1234);
    for (int32_t i = 0; i < draws; ++i) Random_Int(modulus);
    std::vector<uint32_t> expected;
    for (int i = 0; i < 16; ++i) expected.push_back(Random_StateWord(i));
    EXPECT_EQ(after, expected);
    EXPECT_EQ(index, Random_Index());
}

TEST_F(DsSequences, ShuffleIsAPermutationFixedByTheSeed)
{
    auto filled = [](CDS_List& l, int n) {
        for (int i = 0; i < n; ++i) l.Add(Real(i));
    };
    Texts original;
    for (int i = 0; i < 37; ++i) original.push_back(Describe(Real(i)));
    Texts first;
    for (int round = 0; round < 2; ++round) {
        CDS_List l;
        filled(l, 37);
        DsSeq_CheckShuffleDraws(16 * 37, 37, [&] { l.Shuffle(); });
        const Texts now = DsSeq_Items(l);
        if (round == 0) first = now;
        else EXPECT_EQ(now, first);  // one seed, one permutation
        l.Sort(true);
        EXPECT_EQ(DsSeq_Items(l), original);  // every element survives
    }
    EXPECT_NE(first, original);
    CDS_List empty;
    DsSeq_CheckShuffleDraws(0, 1, [&] { empty.Shuffle(); });
}

TEST_F(DsSequences, StacksAndQueues)
{
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"empty stack and queue: pop, top, dequeue, head, tail give null",
         [] {
             CDS_Stack s;
             CDS_Queue q;
             EXPECT_EQ(s.Pop(), nullptr);
             EXPECT_EQ(s.Top(), nullptr);
             EXPECT_EQ(q.Dequeue(), nullptr);
             EXPECT_EQ(q.Head(), nullptr);
             EXPECT_EQ(q.Tail(), nullptr);
         }},
        {"stack order, and a popped slot keeps its value until pushed over",
         [] {
             CDS_Stack s;
             s.Push(Real(1));
             s.Push(Str("two"));
             EXPECT_EQ(Describe(*s.Top()), "string:two");
             EXPECT_EQ(Describe(*s.Pop()), "string:two");
             EXPECT_EQ(s.Size(), 1);
             EXPECT_EQ(Describe(*s.Slot(1)), "string:two");
             s.Push(Real(3));
             EXPECT_EQ(Describe(*s.Pop()), "real:3");
             EXPECT_EQ(Describe(*s.Pop()), "real:1");
             EXPECT_TRUE(s.Empty());
         }},
        {"queue of 20: the 17th dequeue compacts, the next returns the 18th",
         [] {
             CDS_Queue q;
             for (int i = 1; i <= 20; ++i) q.Enqueue(Real(i));
             for (int i = 1; i <= 16; ++i) ASSERT_EQ(q.Dequeue()->real, i);
             EXPECT_EQ(q.HeadIndex(), 16);
             RValue* seventeenth = q.Dequeue();
             EXPECT_EQ(seventeenth->real, 17);  // the slot keeps its value through the compaction
             EXPECT_EQ(q.TailIndex(), 3);
             EXPECT_EQ(q.HeadIndex(), 0);
             EXPECT_EQ(q.Dequeue()->real, 18);
             EXPECT_EQ(Describe(*q.Tail()), "real:20");
             EXPECT_EQ(q.Size(), 2);
         }},
        {"a full queue copied keeps its last element",
         [] {
             CDS_Queue q, copy;
             for (int i = 1; i <= 16; ++i) q.Enqueue(Str(std::to_string(i).c_str()));
             ASSERT_EQ(q.TailIndex(), q.Capacity());
             copy.Enqueue(Real(0));
             copy.Assign(q);
             EXPECT_EQ(copy.Size(), 16);
             EXPECT_EQ(Describe(*copy.Tail()), "string:16");
             EXPECT_EQ(Describe(*copy.Head()), "string:1");
         }},
        {"a queue clear leaves its slots undefined and keeps the block",
         [] {
             CDS_Queue q;
             for (int i = 1; i <= 3; ++i) q.Enqueue(Str("x"));
             q.Dequeue();
             q.Clear();
             EXPECT_TRUE(q.Empty());
             EXPECT_EQ(q.Capacity(), 0);
             q.Enqueue(Real(5));
             EXPECT_EQ(Describe(*q.Slot(1)), "undefined");
             EXPECT_EQ(Describe(*q.Slot(0)), "real:5");
         }},
        {"stack assign copies count, capacity and slots",
         [] {
             CDS_Stack a, b;
             for (int i = 0; i < 18; ++i) a.Push(Real(i));
             b.Push(Str("old"));
             b.Assign(a);
             EXPECT_EQ(b.Size(), 18);
             EXPECT_EQ(b.Capacity(), 32);
             EXPECT_EQ(b.Top()->real, 17);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.run();
    }
}

}  // namespace
