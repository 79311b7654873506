// The text form: every container with every storable kind against the records textform.py writes from the
// layout alone, reading back, the older versions and the flat map form, nested marks, and hostile texts.
#include "ds_test_util.h"

#include "../core/py_oracle.h"
#include "core/stream.h"

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

namespace {

using namespace dstest;

// The value of each case, as textform.py names and spells it.
Held DsText_Case(const std::string& name)
{
    if (name == "real") return Real(-1234.5625);
    if (name == "string") return Str("h\xC3\xA9llo w\xC3\xB6rld \xE2\x9C\x93");
    if (name == "empty") return Str("");
    if (name == "array2") return Array({{Real(1), Str("a")}, {Real(2)}});
    if (name == "array3") return Array({{Real(1)}, {}, {Array({{Real(7), Str("x")}}), Int32(9)}});
    if (name == "pointer") return Ptr(uintptr_t(0x123456789ABCDEF0ull));
    if (name == "undefined") return Undef();
    if (name == "int32") return Int32(-7);
    if (name == "int64") return Int64((int64_t(1) << 40) + 3);
    if (name == "bool") return Bool(true);
    ADD_FAILURE() << "no case " << name;
    return Undef();
}

// One container of each kind behind one face: fill with a case, write, read, show.
struct DsText_Any {
    std::string kind;
    CDS_Stack stack;
    CDS_Queue queue;
    CDS_List list;
    CDS_Map map;
    CDS_Priority priority;
    CDS_Grid grid{0, 0};

    explicit DsText_Any(std::string k) : kind(std::move(k)) {}
    void Fill(const RValue& v)
    {
        if (kind == "stack") stack.Push(v);
        else if (kind == "queue") queue.Enqueue(v);
        else if (kind == "list") list.Add(v);
        else if (kind == "map") map.Add(Str("k"), v);
        else if (kind == "priority") priority.Add(v, Real(2));
        else {
            grid.SetSize(2, 3);
            for (int32_t x = 0; x < 2; ++x)
                for (int32_t y = 0; y < 3; ++y) grid.SetCell(x, y, Real(10 * x + y));
            grid.SetCell(1, 0, v);
        }
    }
    std::string Write()
    {
        if (kind == "stack") return Text(stack.Write());
        if (kind == "queue") return Text(queue.Write());
        if (kind == "list") return Text(list.Write());
        if (kind == "map") return Text(map.Write());
        if (kind == "priority") return Text(priority.Write());
        return Text(grid.Write());
    }
    bool Read(const char* text, bool legacy = false)
    {
        if (kind == "stack") return stack.Read(text, legacy);
        if (kind == "queue") return queue.Read(text, legacy);
        if (kind == "list") return list.Read(text, legacy);
        if (kind == "map") return map.Read(text);
        if (kind == "priority") return priority.Read(text, legacy);
        return grid.Read(text, legacy);
    }
    // The stored values in the order the record holds them.
    std::vector<std::string> Show()
    {
        std::vector<std::string> out;
        if (kind == "stack")
            for (int32_t i = 0; i < stack.Size(); ++i) out.push_back(Describe(*stack.Slot(i)));
        if (kind == "queue") {
            out.push_back("tail " + std::to_string(queue.TailIndex()) + " head " + std::to_string(queue.HeadIndex()));
            for (int32_t i = 0; i < queue.Capacity(); ++i) out.push_back(Describe(*queue.Slot(i)));
        }
        if (kind == "list")
            for (int32_t i = 0; i < list.Size(); ++i) out.push_back(Describe(*list.GetItem(i)));
        if (kind == "map") map.ForEach([&](CDS_MapEntry& e) { out.push_back(Describe(e.key) + "=" + Describe(e.value)); });
        if (kind == "priority")
            for (int32_t i = 0; i < priority.Size(); ++i)
                out.push_back(Describe(*priority.Value(i)) + "@" + Describe(*priority.Priority(i)));
        if (kind == "grid") {
            out.push_back(std::to_string(grid.Width()) + "x" + std::to_string(grid.Height()));
            for (int32_t x = 0; x < grid.Width(); ++x)
                for (int32_t y = 0; y < grid.Height(); ++y) out.push_back(Describe(*grid.Cell(x, y)));
        }
        return out;
    }
};

const char* const kDsTextKinds[] = {"stack", "queue", "list", "map", "priority", "grid"};

std::map<std::string, std::string> DsText_Expected()
{
    std::map<std::string, std::string> out;
    const std::string dir = kvtest_py::Generate("tests/ds/textform.py", "");
    std::istringstream in(kvtest::ReadFile(dir + "expected.txt"));
    for (std::string kind, name, hex; in >> kind >> name >> hex;) out[kind + " " + name] = hex;
    return out;
}

class DsTextForm : public DsTest {};

TEST_F(DsTextForm, EveryContainerAndKindWritesTheRecordAndReadsBack)
{
    const auto expected = DsText_Expected();
    ASSERT_FALSE(expected.empty());
    const char* cases[] = {"real", "string", "empty", "array2", "array3", "pointer", "undefined", "int32", "int64", "bool"};
    for (const char* kind : kDsTextKinds)
        for (const char* name : cases) {
            SCOPED_TRACE(std::string(kind) + " " + name);
            DsText_Any written(kind);
            written.Fill(DsText_Case(name));
            const std::string hex = written.Write();
            ASSERT_EQ(hex, expected.at(std::string(kind) + " " + name));
            DsText_Any read(kind);
            ASSERT_TRUE(read.Read(hex.c_str()));
            EXPECT_EQ(read.Show(), written.Show());
            EXPECT_EQ(read.Write(), hex);
            // Lower-case digits read the same.
            std::string lower = hex;
            for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
            DsText_Any again(kind);
            ASSERT_TRUE(again.Read(lower.c_str()));
            EXPECT_EQ(again.Show(), written.Show());
        }
    CDS_List empty;
    EXPECT_EQ(Text(empty.Write()), "2E01000000000000");
    EXPECT_EQ(expected.at("list emptylist"), "2E01000000000000");
    // The grid's cells go x outer: (0,0), (0,1), (0,2), (1,0).
    CDS_Grid g(2, 3);
    for (int32_t x = 0; x < 2; ++x)
        for (int32_t y = 0; y < 3; ++y) g.SetCell(x, y, Int32(10 * x + y));
    EXPECT_EQ(Text(g.Write()), "5A020000020000000300000007000000000000000700000001000000070000000200000007000000"
                               "0A000000070000000B000000070000000C000000");
}

TEST_F(DsTextForm, OlderRecordsAndTheFlatMapForm)
{
    const auto expected = DsText_Expected();
    CDS_List list;
    ASSERT_TRUE(list.Read(expected.at("list version1").c_str(), false));
    DsText_Any shown("list");
    shown.list.Assign(list);
    EXPECT_EQ(shown.Show(),
              (std::vector<std::string>{"real:2.5", "string:ab", "array[[real:1]]", "undefined", "real:4"}));
    ASSERT_TRUE(shown.list.Read(expected.at("list legacy").c_str(), true));
    EXPECT_EQ(shown.Show(), (std::vector<std::string>{"real:3.5", "string:txt", "undefined", "real:-1"}));
    // The legacy flag reads a current record the legacy way too.
    CDS_Stack stack;
    stack.Push(Real(1));
    const std::string current = Text(stack.Write());
    CDS_Stack legacy;
    EXPECT_TRUE(legacy.Read(current.c_str(), true));
    EXPECT_EQ(Describe(*legacy.Slot(0)), "real:1");  // kind 0 and its real; the missing string reads as none

    struct Flat {
        const char* text;
        std::vector<std::string> entries;
    };
    const Flat flats[] = {
        {"3:6B6579:76616C", {"string:key=string:val"}},
        {"0:3FF0:4000000000000000", {"real:1=real:2"}},
        {"1:61:3FF0,1:61:4000", {"string:a=real:1", "string:a=real:2"}},  // a repeated key: two entries
        {"2:3FF0:6c6f77", {"real:1=string:low"}},
        {"0:3FF000000000000000001:401", {"real:1=real:2"}},             // past 16 digits, an odd last digit
        {"3:41:42,", {"string:A=string:B"}},                             // a trailing ','
        {"3:41:42X3:43:44", {"string:A=string:B"}},                      // a missing separator ends it
        {"3:41", {}},
        {"3:", {}},
        {"0:,", {"real:0=real:0"}},
    };
    for (const Flat& f : flats) {
        CDS_Map m;
        m.Add(Str("old"), Real(0));
        EXPECT_TRUE(m.Read(f.text)) << f.text;
        std::vector<std::string> got;
        m.ForEach([&](CDS_MapEntry& e) { got.push_back(Describe(e.key) + "=" + Describe(e.value)); });
        EXPECT_EQ(got, f.entries) << f.text;
    }
    CDS_Map repeated;
    repeated.Read("1:61:3FF0,1:61:4000");
    EXPECT_EQ(repeated.Find(Str("a"))->value.real, 1);  // the first of two
}

TEST_F(DsTextForm, NestedMarksWriteTheirKindWordAlone)
{
    const int32_t inner = DSMap_New();
    CDS_Map m;
    m.Add(Str("n"), Marked(inner, DS_MARK_MAP));
    ConsoleCapture debug(&DebugConsole);
    const std::string hex = Text(m.Write());
    EXPECT_EQ(hex, "920100000100000001000000010000006E00000080");
    CDS_Map back;
    ASSERT_TRUE(back.Read(hex.c_str()));
    EXPECT_EQ(Describe(back.Find(Str("n"))->value), "undefined");
    EXPECT_EQ(debug.Text(), "Attempting to WriteValue for unsupported type -2147483648\n"
                            "Attempting to ReadValue for unsupported type -2147483648\n");
    DSMap_Destroy(inner);
}

TEST_F(DsTextForm, QueueKeepsDequeuedSlots)
{
    const auto expected = DsText_Expected();
    DsText_Any q("queue");
    ASSERT_TRUE(q.Read(expected.at("queue dequeued").c_str()));
    std::vector<std::string> want{"tail 5 head 2"};
    for (int i = 1; i <= 5; ++i) want.push_back(Describe(Real(i)));
    for (int i = 0; i < 11; ++i) want.push_back("real:0");
    EXPECT_EQ(q.Show(), want);
    EXPECT_EQ(Describe(*q.queue.Dequeue()), "real:3");
    // A live queue with dequeued strings round-trips every slot.
    DsText_Any live("queue");
    for (int i = 0; i < 20; ++i) live.queue.Enqueue(Str(std::to_string(i).c_str()));
    for (int i = 0; i < 9; ++i) live.queue.Dequeue();
    DsText_Any copy("queue");
    ASSERT_TRUE(copy.Read(live.Write().c_str()));
    EXPECT_EQ(copy.Show(), live.Show());
}

// ---- Hostile texts ----

std::string H32(int64_t n)
{
    char buf[9];
    const uint32_t u = uint32_t(n);
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X", u & 255, (u >> 8) & 255, (u >> 16) & 255, u >> 24);
    return buf;
}

std::string HReal(double d)
{
    CStream s;
    s.WriteReal(d);
    char* text = nullptr;
    s.ToHex(&text);
    return Text(text);
}

// Arrays nested depth deep around one real.
std::string DsText_Nested(int depth)
{
    std::string out;
    for (int i = 0; i < depth; ++i) out += H32(2) + H32(1) + H32(1);
    return out + H32(0) + HReal(1);
}

TEST_F(DsTextForm, HostileTextsFailOrReadPartly)
{
    struct Bad {
        const char* what;
        std::string text;
        bool mapAccepts;  // the map reader's answer (every other reader refuses: wrong header or bad body)
    };
    const std::string big = H32(0x7FFFFFFF), negative = H32(-1), low = H32(int64_t(0x80000000u));
    const std::string oneEntry = H32(402) + H32(1) + H32(0) + HReal(1);  // a map record's count and first key
    std::vector<Bad> bads = {
        {"empty", "", false},
        {"one character", "3", false},
        {"two characters", "2E", false},
        {"odd length", "2E0100000", false},
        {"not hex", "ZZZZZZZZZZZZ", false},
        {"count 0x7FFFFFFF", H32(402) + big + H32(0) + HReal(1), false},
        {"count -1", H32(402) + negative, false},
        {"count 0x80000000", H32(402) + low, false},
        {"string length past the end", oneEntry + H32(1) + H32(1000) + "6162", false},
        {"negative string length", oneEntry + H32(1) + negative, false},
        {"array rows past the end", oneEntry + H32(2) + big, false},
        {"array row length past the end", oneEntry + H32(2) + H32(1) + big, false},
        {"arrays nested 10^4 deep", oneEntry + DsText_Nested(10000), false},
        {"arrays nested 257 deep", oneEntry + DsText_Nested(257), false},
        {"arrays nested 256 deep", oneEntry + DsText_Nested(256), true},
    };
    for (const Bad& bad : bads) {
        SCOPED_TRACE(bad.what);
        CDS_Map m;
        m.Add(Str("old"), Real(1));
        EXPECT_EQ(m.Read(bad.text.c_str()), bad.mapAccepts);
        EXPECT_EQ(m.Size(), bad.mapAccepts ? 1 : 0);
        for (const char* kind : {"stack", "queue", "list", "priority", "grid"})
            for (bool legacy : {false, true}) {
                DsText_Any any(kind);
                any.Fill(Str("kept"));
                const std::vector<std::string> before = any.Show();
                // Another reader may take the text as its own partial record; failing, it changes nothing.
                if (!any.Read(bad.text.c_str(), legacy)) {
                    EXPECT_EQ(any.Show(), before) << kind;
                }
            }
    }
    // Each container's own header with a body that cannot be: false, and the container as it was.
    struct Body {
        const char* what;
        const char* kind;
        std::string text;
        bool legacyToo = true;  // the legacy form reads other bytes: some bodies are then merely odd
    };
    const std::vector<Body> bodies = {
        {"stack count past the end", "stack", H32(102) + big},
        {"stack count -1", "stack", H32(102) + negative},
        {"list count 0x80000000", "list", H32(302) + low},
        {"list string past the end", "list", H32(302) + H32(1) + H32(1) + H32(5) + "41"},
        {"list arrays nested 10^4 deep", "list", H32(302) + H32(1) + DsText_Nested(10000), false},
        {"queue head above tail", "queue", H32(202) + H32(1) + H32(2) + H32(4)},
        {"queue tail above capacity", "queue", H32(202) + H32(5) + H32(0) + H32(4)},
        {"queue negative head", "queue", H32(202) + H32(1) + negative + H32(4)},
        {"queue capacity past the end", "queue", H32(202) + H32(0) + H32(0) + big},
        {"priority count past the end", "priority", H32(502) + H32(4) + H32(0) + HReal(1) + H32(0) + HReal(1)},
        {"grid 65536 x 65536", "grid", H32(602) + H32(65536) + H32(65536)},
        {"grid negative width", "grid", H32(602) + negative + H32(2)},
        {"grid cells past the end", "grid", H32(602) + H32(1000) + H32(1000) + H32(0) + HReal(1)},
        {"another container's header", "list", H32(402) + H32(0)},
        {"version 3", "stack", H32(103) + H32(0)},
    };
    for (const Body& b : bodies)
        for (bool legacy : {false, true}) {
            if (legacy && !b.legacyToo) continue;
            SCOPED_TRACE(std::string(b.what) + (legacy ? " (legacy)" : ""));
            DsText_Any any(b.kind);
            any.Fill(Str("kept"));
            const std::vector<std::string> before = any.Show();
            EXPECT_FALSE(any.Read(b.text.c_str(), legacy));
            EXPECT_EQ(any.Show(), before);
        }
    // A grid of no cells may have a long side: read and written at once.
    DsText_Any thin("grid");
    ASSERT_TRUE(thin.Read((H32(602) + H32(0) + big).c_str()));
    EXPECT_EQ(thin.Show(), std::vector<std::string>{"0x2147483647"});
    EXPECT_EQ(thin.Write(), H32(602) + H32(0) + big);
    // A record that merely ends early reads its missing numbers as 0.
    DsText_Any shortList("list");
    ASSERT_TRUE(shortList.Read((H32(302) + H32(2) + H32(7) + H32(5)).c_str()));
    EXPECT_EQ(shortList.Show(), (std::vector<std::string>{"int32:5", "real:0"}));
    // Unknown kind words read as undefined; a repeated map key keeps its first value.
    CDS_Map m;
    ConsoleCapture debug(&DebugConsole);
    ASSERT_TRUE(m.Read((H32(402) + H32(3) + H32(0) + HReal(1) + H32(99) + H32(0) + HReal(1) + H32(0) + HReal(2) +
                        H32(0) + HReal(2) + H32(0) + HReal(3))
                           .c_str()));
    std::vector<std::string> got;
    m.ForEach([&](CDS_MapEntry& e) { got.push_back(Describe(e.key) + "=" + Describe(e.value)); });
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"real:1=undefined", "real:2=real:3"}));  // key 1 came twice
    EXPECT_EQ(debug.Text(), "Attempting to ReadValue for unsupported type 99\n");
}

TEST_F(DsTextForm, DeepArraysWriteWhatReadsBack)
{
    // Nesting past the reader's limit is written as undefined below it.
    Held deep = Real(5);
    for (int i = 0; i < 300; ++i) deep = Array({{deep}});
    CDS_List deepList;
    deepList.Add(deep);
    CDS_List deepBack;
    EXPECT_TRUE(deepBack.Read(Text(deepList.Write()).c_str(), false));
    const RValue* v = deepBack.GetItem(0);
    int depth = 0;
    while (RValue_Kind(v) == VALUE_ARRAY) {
        v = &v->arr->rows[0].items[0];
        ++depth;
    }
    EXPECT_EQ(depth, 256);
    EXPECT_EQ(Describe(*v), "undefined");
}

}  // namespace
