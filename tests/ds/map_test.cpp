// ds_map: the key hash against zlib, the walk order against Python's, the map's edge cases, keys whose
// CRC-32 collide, the registries' slot rules and the validity message.
#include "ds_test_util.h"

#include "../core/py_oracle.h"
#include "core/hash.h"

#include <functional>
#include <sstream>

namespace {

using namespace dstest;

std::vector<std::string> DsMap_Keys(CDS_Map& m)
{
    std::vector<std::string> out;
    m.ForEach([&](CDS_MapEntry& e) { out.push_back(Describe(e.key) + "=" + Describe(e.value)); });
    return out;
}

double DsMap_BitsReal(const std::string& hex)
{
    const uint64_t bits = std::stoull(hex, nullptr, 16);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::string DsMap_Unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string DsMap_Oracle()
{
    static const std::string dir = kvtest_py::Generate("tests/ds/ds_oracle.py", "20240611");
    return dir;
}

class DsMapCore : public DsTest {};

TEST_F(DsMapCore, HashKeyIsTheComplementedCrcOfTextsAndOfRealBytes)
{
    const std::string dir = DsMap_Oracle();
    ASSERT_FALSE(dir.empty());
    int checked = 0;
    std::istringstream strings(kvtest::ReadFile(dir + "hash_strings.txt"));
    for (std::string hex, crc; strings >> hex >> crc; ++checked) {
        Held s = Str(DsMap_Unhex(hex).c_str());
        ASSERT_EQ(RValue_HashKey(s), std::stoul(crc)) << hex;
    }
    std::istringstream reals(kvtest::ReadFile(dir + "hash_reals.txt"));
    for (std::string bits, crc; reals >> bits >> crc; ++checked)
        ASSERT_EQ(RValue_HashKey(Real(DsMap_BitsReal(bits))), std::stoul(crc)) << bits;
    EXPECT_EQ(checked, 2000);

    // Numbers of one value are one key whatever their kind; 0 and -0 are two; undefined hashes to 0.
    const uint32_t one = RValue_HashKey(Real(1));
    EXPECT_EQ(RValue_HashKey(Int32(1)), one);
    EXPECT_EQ(RValue_HashKey(Int64(1)), one);
    EXPECT_EQ(RValue_HashKey(Bool(true)), one);
    EXPECT_NE(RValue_HashKey(Real(0.0)), RValue_HashKey(Real(-0.0)));
    EXPECT_EQ(RValue_HashKey(Undef()), 0u);
    EXPECT_EQ(RValue_HashKey(Kind(VALUE_UNSET)), 0u);
    CDS_Map m;
    EXPECT_TRUE(m.Add(Real(1), Real(10)));
    for (const RValue& k : {Int32(1), Int64(1), Bool(true)}) EXPECT_FALSE(m.Add(k, Real(20))) << Describe(k);
    EXPECT_EQ(m.Size(), 1);
}

TEST_F(DsMapCore, NullKeyReportsTheRealConversionError)
{
    FatalCapture fatal;
    RValue_HashKey(Kind(VALUE_NULL));
    const std::string text = fatal.Finish();
    EXPECT_NE(text.find("REAL argument incorrect type 12"), std::string::npos) << text;
    EXPECT_EQ(FatalCapture::Count(), 1);
}

TEST_F(DsMapCore, WalkOrderIsBucketThenInsertionOrder)
{
    const std::string dir = DsMap_Oracle();
    ASSERT_FALSE(dir.empty());
    std::istringstream in(kvtest::ReadFile(dir + "walk.txt"));
    std::vector<Held> keys;
    std::string tag;
    while (in >> tag && tag != "order") {
        std::string word;
        in >> word;
        if (tag == "s") keys.push_back(Str(DsMap_Unhex(word).c_str()));
        else if (tag == "r") keys.emplace_back(Real(DsMap_BitsReal(word)));
        else keys.emplace_back(Int64(std::stoll(word)));
    }
    ASSERT_EQ(keys.size(), 500u);
    for (int table = 0; table < 2; ++table) {
        if (table) {
            ASSERT_TRUE(in >> tag);
        }
        int32_t buckets = 0;
        in >> buckets;
        std::vector<int> expected(keys.size());
        for (int& i : expected) in >> i;
        CDS_Map m(buckets);
        for (size_t i = 0; i < keys.size(); ++i) ASSERT_TRUE(m.Add(keys[i], Real(double(i))));
        std::vector<int> walked;
        m.ForEach([&](CDS_MapEntry& e) { walked.push_back(int(e.value.real)); });
        EXPECT_EQ(walked, expected) << buckets << " buckets";
        // The step-by-step walk agrees with the whole one.
        std::vector<int> stepped;
        for (CDS_MapEntry* e = m.FindFirst(); e; e = m.FindNext(e->key)) stepped.push_back(int(e->value.real));
        EXPECT_EQ(stepped, expected) << buckets << " buckets";
        EXPECT_EQ(int(m.FindLast()->value.real), expected.back());
        // Deleting every other key keeps the order of the rest.
        std::vector<int> kept;
        for (size_t i = 0; i < expected.size(); ++i) {
            if (i % 2) ASSERT_TRUE(m.Delete(keys[size_t(expected[i])]));
            else kept.push_back(expected[i]);
        }
        walked.clear();
        m.ForEach([&](CDS_MapEntry& e) { walked.push_back(int(e.value.real)); });
        EXPECT_EQ(walked, kept) << buckets << " buckets";
    }
}

TEST_F(DsMapCore, EdgeCases)
{
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"new with entries: strings where given, else reals; a repeated key keeps its first value",
         [] {
             const int32_t index = DSMap_NewWithEntries(3, "id", 5.0, static_cast<const char*>(nullptr), "status", 0.0,
                                                        "error", "id", 9.0, static_cast<const char*>(nullptr));
             CDS_Map* m = DSMap_Get(index);
             ASSERT_NE(m, nullptr);
             EXPECT_EQ(m->Size(), 2);
             EXPECT_EQ(Describe(m->Find(Str("id"))->value), "real:5");
             EXPECT_EQ(Describe(m->Find(Str("status"))->value), "string:error");
             DSMap_Destroy(index);
             EXPECT_EQ(DSMap_Get(index), nullptr);
         }},
        {"int32 1 then real 1: Add refuses; Set replaces key and value",
         [] {
             CDS_Map m;
             EXPECT_TRUE(m.Add(Int32(1), Real(10)));
             EXPECT_FALSE(m.Add(Real(1), Real(20)));
             EXPECT_EQ(DsMap_Keys(m), std::vector<std::string>{"int32:1=real:10"});
             Held previous;
             m.Set(Real(1), Real(20), &previous.v);
             EXPECT_EQ(DsMap_Keys(m), std::vector<std::string>{"real:1=real:20"});
             EXPECT_EQ(Describe(previous), "real:10");
         }},
        {"the text 1 and the real 1 are two keys",
         [] {
             CDS_Map m;
             EXPECT_TRUE(m.Add(Str("1"), Real(1)));
             EXPECT_TRUE(m.Add(Real(1), Real(2)));
             EXPECT_EQ(m.Size(), 2);
         }},
        {"an array key is never found, each Add adds; Set and Delete reach the first",
         [] {
             CDS_Map m;
             Held a = Array({{Real(1)}});
             EXPECT_TRUE(m.Add(a, Real(1)));
             EXPECT_FALSE(m.Exists(a));
             EXPECT_TRUE(m.Add(a, Real(2)));
             EXPECT_EQ(m.Size(), 2);
             m.Set(a, Real(3), nullptr);
             EXPECT_EQ(m.Size(), 2);
             std::vector<std::string> keys = DsMap_Keys(m);
             EXPECT_EQ(keys[0], "array[[real:1]]=real:3");
             EXPECT_EQ(keys[1], "array[[real:1]]=real:2");
             EXPECT_TRUE(m.Delete(a));
             EXPECT_EQ(DsMap_Keys(m), std::vector<std::string>{"array[[real:1]]=real:2"});
             // Another array of equal content is another key.
             Held b = Array({{Real(1)}});
             EXPECT_FALSE(m.Delete(b));
         }},
        {"a NaN key is never found, each Add adds; Set and Delete reach the first",
         [] {
             CDS_Map m;
             const double nan = std::nan("");
             EXPECT_TRUE(m.Add(Real(nan), Real(1)));
             EXPECT_TRUE(m.Add(Real(nan), Real(2)));
             EXPECT_EQ(m.Find(Real(nan)), nullptr);
             m.Set(Real(nan), Real(3), nullptr);
             EXPECT_EQ(m.Size(), 2);
             EXPECT_EQ(m.FindFirst()->value.real, 3);
             EXPECT_TRUE(m.Delete(Real(nan)));
             EXPECT_EQ(m.FindFirst()->value.real, 2);
         }},
        {"walk ends: next of the last, previous of the first, first of an empty map",
         [] {
             CDS_Map m;
             EXPECT_EQ(m.FindFirst(), nullptr);
             EXPECT_EQ(m.FindLast(), nullptr);
             m.Add(Str("a"), Real(1));
             m.Add(Str("b"), Real(2));
             EXPECT_EQ(m.FindNext(m.FindLast()->key), nullptr);
             EXPECT_EQ(m.FindPrevious(m.FindFirst()->key), nullptr);
             EXPECT_EQ(m.FindPrevious(m.FindLast()->key), m.FindFirst());
             EXPECT_EQ(m.FindNext(Str("absent")), nullptr);
         }},
        {"precision 0.5: 1.4 equals int32 1 and real 1, yet 1.4 and 1.0 are two keys",
         [] {
             DS_SetPrecision(-0.5);
             EXPECT_EQ(DS_Precision, 0.5);
             EXPECT_EQ(RValue_Compare(Real(1.4), Int32(1), DS_Precision), 0);
             EXPECT_EQ(RValue_Compare(Real(1.4), Real(1.0), DS_Precision), 0);
             CDS_Map m;
             EXPECT_TRUE(m.Add(Real(1.4), Real(1)));
             EXPECT_TRUE(m.Add(Real(1.0), Real(2)));
             EXPECT_EQ(m.Size(), 2);
             // The whole-map walks compare with the tolerance: the first equal key decides.
             EXPECT_NE(m.FindNext(Real(1.2)), nullptr);
         }},
        {"Replace: true and the value replaced when present, else added and false",
         [] {
             CDS_Map m;
             EXPECT_FALSE(m.Replace(Str("k"), Real(1)));
             EXPECT_TRUE(m.Replace(Str("k"), Real(2)));
             EXPECT_EQ(DsMap_Keys(m), std::vector<std::string>{"string:k=real:2"});
         }},
        {"Set without an entry inserts, previous gets the new value; Delete of an absent key is false",
         [] {
             CDS_Map m;
             Held previous;
             m.Set(Str("k"), Str("v"), &previous.v);
             EXPECT_EQ(Describe(previous), "string:v");
             EXPECT_FALSE(m.Delete(Str("other")));
             EXPECT_EQ(m.Size(), 1);
         }},
        {"bucket counts: below 1 gives 4096, any other count is kept, one bucket holds everything",
         [] {
             for (int32_t n : {0, -5}) EXPECT_EQ(CDS_Map(n).BucketCount(), 4096);
             CDS_Map odd(7), one(1);
             EXPECT_EQ(odd.BucketCount(), 7);
             for (int i = 0; i < 50; ++i) {
                 odd.Add(Real(i), Real(i));
                 one.Add(Real(i), Real(i));
             }
             EXPECT_EQ(odd.Size(), 50);
             EXPECT_EQ(one.Size(), 50);
             for (int i = 0; i < 50; ++i) EXPECT_NE(odd.Find(Real(i)), nullptr);
             std::vector<int> inserted;
             one.ForEach([&](CDS_MapEntry& e) { inserted.push_back(int(e.key.real)); });
             for (int i = 0; i < 50; ++i) EXPECT_EQ(inserted[size_t(i)], i);
         }},
        {"Assign copies the bucket order and replaces what was there; onto itself it does nothing",
         [] {
             CDS_Map a, b;
             for (int i = 0; i < 20; ++i) a.Add(Real(i), Str("x"));
             b.Add(Str("old"), Real(0));
             b.Assign(a);
             EXPECT_EQ(DsMap_Keys(b), DsMap_Keys(a));
             a.Assign(a);
             EXPECT_EQ(a.Size(), 20);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DS_SetPrecision(0.00000001);
        c.run();
    }
}

TEST_F(DsMapCore, KeysOfOneCrcStayTwoEntries)
{
    Held plumless = Str("plumless"), buckeroo = Str("buckeroo");
    ASSERT_EQ(RValue_HashKey(plumless), RValue_HashKey(buckeroo));
    CDS_Map m;
    EXPECT_TRUE(m.Add(plumless, Real(1)));
    EXPECT_TRUE(m.Add(buckeroo, Real(2)));
    m.Set(buckeroo, Real(20), nullptr);
    m.Set(plumless, Real(10), nullptr);
    EXPECT_EQ(DsMap_Keys(m), (std::vector<std::string>{"string:plumless=real:10", "string:buckeroo=real:20"}));
    EXPECT_TRUE(m.Delete(buckeroo));
    EXPECT_EQ(DsMap_Keys(m), std::vector<std::string>{"string:plumless=real:10"});
    EXPECT_FALSE(m.Delete(buckeroo));
    m.Set(buckeroo, Real(3), nullptr);
    EXPECT_EQ(DsMap_Keys(m), (std::vector<std::string>{"string:plumless=real:10", "string:buckeroo=real:3"}));
    EXPECT_TRUE(m.Delete(plumless));
    EXPECT_EQ(DsMap_Keys(m), std::vector<std::string>{"string:buckeroo=real:3"});
}

class DsRegistry : public DsTest {};

TEST_F(DsRegistry, LowestFreeSlotFirstAndGrowthBySixteen)
{
    ASSERT_TRUE(DS_ReleaseRegistries());  // numbering from 0
    const int32_t a = DSList_Create(), b = DSList_Create(), c = DSList_Create();
    EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({0, 1, 2}));
    DS_Destroy(DS_KIND_LIST, b);
    EXPECT_EQ(DSList_Create(), 1);
    EXPECT_EQ(DSList_Create(), 3);
    EXPECT_EQ(DS_ListsCapacity, 16);
    std::vector<int32_t> more;
    for (int i = 0; i < 13; ++i) more.push_back(DSList_Create());
    EXPECT_EQ(more.back(), 16);
    EXPECT_EQ(DS_ListsCapacity, 32);
    // Each kind has its own index space.
    const int32_t map = DSMap_New(), grid = DSGrid_Create(1, 1);
    EXPECT_EQ(map, 0);
    EXPECT_EQ(grid, 0);
    for (int32_t i = 0; i < DS_ListsCount; ++i) DS_Destroy(DS_KIND_LIST, i);
    DSMap_Destroy(map);
    DS_Destroy(DS_KIND_GRID, grid);
    EXPECT_EQ(DS_ListsCount, 17);  // a high-water mark
}

TEST_F(DsRegistry, ValidityAndDestroyRules)
{
    const char* kMessage = "Data structure with index does not exist.";
    struct Case {
        const char* what;
        int32_t kind;
        bool secondDestroyReports;
    };
    const Case cases[] = {
        {"map", DS_KIND_MAP, false},   {"list", DS_KIND_LIST, false}, {"stack", DS_KIND_STACK, true},
        {"queue", DS_KIND_QUEUE, true}, {"grid", DS_KIND_GRID, true}, {"priority", DS_KIND_PRIORITY, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t index = -1;
        switch (c.kind) {
        case DS_KIND_MAP: index = DSMap_New(); break;
        case DS_KIND_LIST: index = DSList_Create(); break;
        case DS_KIND_STACK: index = DSStack_Create(); break;
        case DS_KIND_QUEUE: index = DSQueue_Create(); break;
        case DS_KIND_GRID: index = DSGrid_Create(2, 2); break;
        default: index = DSPriority_Create(); break;
        }
        EXPECT_TRUE(DS_Exists(c.kind, index));
        EXPECT_FALSE(DS_Exists(c.kind, index + 1));
        EXPECT_FALSE(DS_Exists(c.kind, -1));
        {
            FatalCapture shown;
            EXPECT_TRUE(DS_CheckIndex(c.kind, index));
            DS_Destroy(c.kind, index);
            EXPECT_FALSE(DS_Exists(c.kind, index));
            EXPECT_EQ(shown.Finish(), "");
        }
        {
            FatalCapture shown;
            DS_Destroy(c.kind, index);
            const std::string second = shown.Finish();
            EXPECT_EQ(second.find(kMessage) != std::string::npos, c.secondDestroyReports) << second;
            EXPECT_EQ(FatalCapture::Count(), 0);  // never fatal
        }
        {
            FatalCapture shown;
            DS_Destroy(c.kind, 1000);
            EXPECT_FALSE(DS_CheckIndex(c.kind, index));
            const std::string text = shown.Finish();
            EXPECT_NE(text.find(kMessage), std::string::npos);
            EXPECT_NE(text.find(kMessage), text.rfind(kMessage));  // both reported
        }
    }
    EXPECT_FALSE(DS_Exists(7, 0));
}

}  // namespace
