// ds_grid: regions and disks (disks against Python's brute force), cell operations, statistics, copies
// between and within grids, the row sort, the shuffle's draws and resizing.
#include "ds_test_util.h"

#include "../core/py_oracle.h"
#include "core/random.h"
#include "world/runner.h"

#include <functional>
#include <random>
#include <sstream>

namespace {

using namespace dstest;

// The grid's cells as text, row by row: "y0: a b c | y1: ...".
std::string DsGrid_Show(CDS_Grid& g)
{
    std::string out;
    for (int32_t y = 0; y < g.Height(); ++y) {
        out += y ? " | " : "";
        for (int32_t x = 0; x < g.Width(); ++x) out += (x ? " " : "") + Describe(*g.Cell(x, y));
    }
    return out;
}

void DsGrid_Number(CDS_Grid& g)
{
    for (int32_t x = 0; x < g.Width(); ++x)
        for (int32_t y = 0; y < g.Height(); ++y) g.SetCell(x, y, Real(10 * x + y));
}

class DsGrid : public DsTest {};

TEST_F(DsGrid, EdgeCases)
{
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"a region's corners in either order, clipped",
         [] {
             CDS_Grid g(4, 4);
             g.RegionOp(1, 5, 5, 2, 1, Real(1));
             for (int32_t x = 0; x < 4; ++x)
                 for (int32_t y = 0; y < 4; ++y)
                     EXPECT_EQ(g.Cell(x, y)->real, (x >= 2 && y >= 1) ? 1 : 0) << x << "," << y;
         }},
        {"add joins two strings, replaces by the non-string, adds numbers; multiply skips strings",
         [] {
             CDS_Grid g(3, 1);
             g.SetCell(0, 0, Str("ab"));
             g.SetCell(1, 0, Str("ab"));
             g.SetCell(2, 0, Int32(4));
             g.CellOp(0, 2, 0, 0, Str("cd"));
             g.CellOp(0, 2, 1, 0, Real(5));
             g.CellOp(0, 2, 2, 0, Bool(true));
             EXPECT_EQ(DsGrid_Show(g), "string:abcd real:5 real:5");
             g.SetCell(1, 0, Str("s"));
             g.CellOp(0, 3, 1, 0, Real(2));
             g.CellOp(0, 3, 2, 0, Real(2));
             g.CellOp(0, 3, 0, 0, Str("x"));
             EXPECT_EQ(DsGrid_Show(g), "string:abcd string:s real:10");
         }},
        {"sum converts every cell, mean counts reals only",
         [] {
             CDS_Grid g(3, 1);
             g.SetCell(0, 0, Real(1));
             g.SetCell(1, 0, Str("2"));
             g.SetCell(2, 0, Bool(true));
             Held sum, mean;
             g.RegionSum(&sum.v, 0, 0, 2, 0);
             g.RegionMean(&mean.v, 0, 0, 2, 0);
             EXPECT_EQ(Describe(sum), "real:4");
             EXPECT_EQ(Describe(mean), "real:1");
             Held none(Real(-7));
             g.RegionMax(&none.v, 5, 5, 6, 6);  // empty region: the result stays as given
             EXPECT_EQ(Describe(none), "real:-7");
         }},
        {"maximum: equal within the precision keeps the first",
         [] {
             CDS_Grid g(3, 1);
             g.SetCell(0, 0, Real(3));
             g.SetCell(1, 0, Real(3.0000000001));
             g.SetCell(2, 0, Real(2));
             Held max, min;
             g.RegionMax(&max.v, 0, 0, 2, 0);
             g.RegionMin(&min.v, 0, 0, 2, 0);
             EXPECT_EQ(Describe(max), "real:3");
             EXPECT_EQ(Describe(min), "real:2");
         }},
        {"disks: radius 0 between cells touches nothing, radius 1 touches five",
         [] {
             CDS_Grid g(3, 3);
             g.DiskOp(1, 1.5, 1.5, 0, Real(9));
             EXPECT_EQ(DsGrid_Show(g), "real:0 real:0 real:0 | real:0 real:0 real:0 | real:0 real:0 real:0");
             g.DiskOp(1, 1, 1, 1, Real(1));
             EXPECT_EQ(DsGrid_Show(g), "real:0 real:1 real:0 | real:1 real:1 real:1 | real:0 real:1 real:0");
             Held sum, mean;
             g.DiskSum(&sum.v, 1, 1, 1);
             g.DiskMean(&mean.v, 1, 1, 5);
             EXPECT_EQ(Describe(sum), "real:5");
             EXPECT_EQ(Describe(mean), "real:0.55555555555555558");
         }},
        {"value x and y: the first in x-outer order; -1 when absent",
         [] {
             CDS_Grid g(3, 4);
             g.SetCell(2, 0, Str("v"));
             g.SetCell(0, 3, Str("v"));
             Held x, y, absent, exists;
             g.RegionValueX(&x.v, 0, 0, 2, 3, Str("v"));
             g.RegionValueY(&y.v, 0, 0, 2, 3, Str("v"));
             g.RegionValueX(&absent.v, 0, 0, 2, 3, Str("w"));
             g.DiskValueExists(&exists.v, 2, 0, 0.5, Str("v"));
             EXPECT_EQ(Describe(x), "real:0");
             EXPECT_EQ(Describe(y), "real:3");
             EXPECT_EQ(Describe(absent), "real:-1");
             EXPECT_EQ(Describe(exists), "real:1");
         }},
        {"grid region to a negative place on another grid",
         [] {
             CDS_Grid source(4, 4), dest(4, 4);
             DsGrid_Number(source);
             dest.GridRegionOp(1, source, 0, 0, 3, 3, -2, -1);
             for (int32_t x = 0; x < 4; ++x)
                 for (int32_t y = 0; y < 4; ++y) {
                     const double want = (x <= 1 && y <= 2) ? 10 * (x + 2) + (y + 1) : 0;
                     EXPECT_EQ(dest.Cell(x, y)->real, want) << x << "," << y;
                 }
         }},
        {"resize keeps what both sizes share and adds real 0",
         [] {
             CDS_Grid g(3, 3);
             DsGrid_Number(g);
             g.SetCell(1, 2, Str("kept"));
             EXPECT_TRUE(g.Resize(2, 4));
             EXPECT_EQ(DsGrid_Show(g), "real:0 real:10 | real:1 real:11 | real:2 string:kept | real:0 real:0");
         }},
        {"sort by a column descending moves whole rows",
         [] {
             CDS_Grid g(2, 3);
             const double first[] = {2, 5, 3};
             for (int32_t y = 0; y < 3; ++y) {
                 g.SetCell(0, y, Real(first[y]));
                 g.SetCell(1, y, Str(std::to_string(y).c_str()));
             }
             g.Sort(0, false);
             EXPECT_EQ(DsGrid_Show(g), "real:5 string:1 | real:3 string:2 | real:2 string:0");
             g.Sort(2, true);  // no such column: nothing
             EXPECT_EQ(DsGrid_Show(g), "real:5 string:1 | real:3 string:2 | real:2 string:0");
         }},
        {"sizes: 0 by n is empty, negative and oversized ones are refused",
         [] {
             CDS_Grid g(0, 5);
             EXPECT_EQ(g.Width(), 0);
             EXPECT_EQ(g.Height(), 5);
             EXPECT_EQ(g.Cells(), nullptr);
             EXPECT_FALSE(g.SetSize(-1, 2));
             EXPECT_FALSE(g.Resize(65536, 65536));
             EXPECT_TRUE(g.SetSize(2, 2));
             g.Clear(Str("c"));
             EXPECT_EQ(DsGrid_Show(g), "string:c string:c | string:c string:c");
             CDS_Grid copy(1, 1);
             copy.Assign(g);
             EXPECT_EQ(DsGrid_Show(copy), DsGrid_Show(g));
             CDS_Grid negative(-3, 4);
             EXPECT_EQ(negative.Width(), 0);
         }},
        {"a joined text past 1023 bytes is whole",
         [] {
             CDS_Grid g(1, 1);
             const std::string a(1000, 'a'), b(600, 'b');
             g.SetCell(0, 0, Str(a.c_str()));
             g.ApplyOp(2, g.Cell(0, 0), Str(b.c_str()));
             g.ApplyOp(2, g.Cell(0, 0), *g.Cell(0, 0));  // with itself
             EXPECT_EQ(std::string(g.Cell(0, 0)->str->text), a + b + a + b);
             EXPECT_EQ(g.Cell(0, 0)->str->length, 3200);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.run();
    }
}

TEST_F(DsGrid, MessagesAndErrors)
{
    CDS_Grid g(2, 2);
    {
        ConsoleCapture release(&ReleaseConsole);
        g.CellOp(7, 2, 2, 0, Real(1));
        g.SetCell(0, 0, Str("s"));
        g.SetCell(1, 1, Str("t"));
        Held max, min;
        g.RegionMax(&max.v, 0, 0, 1, 1);
        SetReleaseMode(false);  // release mode: only a string after a number counts as a mix
        g.RegionMin(&min.v, 0, 0, 0, 1);
        EXPECT_EQ(Describe(min), "real:0");
        g.DiskMin(&min.v, 1, 1, 1);
        SetReleaseMode(true);
        EXPECT_EQ(release.Text(),
                  "Grid 7, index out of bounds writing [2,0] - size is [2,2]\n"
                  "Warning:: ds_grid_get_max called on grid with mix of strings and numerical values\n"
                  "Warning:: ds_grid_get_disk_min called on grid with mix of strings and numerical values\n");
    }
    // A cell the number conversion cannot read is the conversion's runtime error.
    FatalCapture fatal;
    g.SetCell(1, 1, Undef());
    Held sum;
    g.RegionSum(&sum.v, 0, 1, 1, 1);
    EXPECT_NE(fatal.Finish().find("incorrect type (5) expecting a Number (QZGR)"), std::string::npos);
    EXPECT_EQ(FatalCapture::Count(), 1);
}

TEST_F(DsGrid, DisksMatchBruteForce)
{
    const std::string dir = kvtest_py::Generate("tests/ds/ds_oracle.py", "20240611");
    ASSERT_FALSE(dir.empty());
    std::istringstream in(kvtest::ReadFile(dir + "disks.txt"));
    int32_t w = 0, h = 0;
    in >> w >> h;
    auto real = [](const std::string& hex) {
        const uint64_t bits = std::stoull(hex, nullptr, 16);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    };
    CDS_Grid g(w, h);
    int checked = 0;
    for (std::string cx, cy, r, flags; in >> cx >> cy >> r >> flags; ++checked) {
        g.Clear(Real(0));
        g.DiskOp(1, real(cx), real(cy), real(r), Real(1));
        std::string got;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) got += g.Cell(x, y)->real == 1 ? '1' : '0';
        ASSERT_EQ(got, flags) << "disk " << real(cx) << " " << real(cy) << " " << real(r);
    }
    EXPECT_EQ(checked, 2000);
    // Centres and radii scripts can give: nothing is touched outside the grid, and the walk ends.
    for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY), 1e300}) {
        g.DiskOp(1, bad, 1, 2, Real(2));
        g.DiskOp(1, 1, 1, bad, Real(2));
    }
}

TEST_F(DsGrid, RegionCopyOntoItselfEqualsCopyFromASnapshot)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        const int32_t w = 1 + int32_t(rng() % 7), h = 1 + int32_t(rng() % 7);
        CDS_Grid g(w, h), snapshot(w, h), expected(w, h);
        for (int32_t x = 0; x < w; ++x)
            for (int32_t y = 0; y < h; ++y) g.SetCell(x, y, Real(100 * x + y));
        snapshot.Assign(g);
        expected.Assign(g);
        auto pick = [&](int32_t n) { return int32_t(rng() % uint32_t(n + 4)) - 2; };
        const int32_t x1 = pick(w), y1 = pick(h), x2 = pick(w), y2 = pick(h), xp = pick(w), yp = pick(h);
        const int32_t op = 1 + int32_t(rng() % 3);
        g.GridRegionOp(op, g, x1, y1, x2, y2, xp, yp);
        expected.GridRegionOp(op, snapshot, x1, y1, x2, y2, xp, yp);
        ASSERT_EQ(DsGrid_Show(g), DsGrid_Show(expected))
            << "op " << op << " region " << x1 << "," << y1 << "-" << x2 << "," << y2 << " to " << xp << "," << yp;
    }
}

TEST_F(DsGrid, RowSortsKeepRowsWhole)
{
    std::mt19937 rng(5);
    DS_SetPrecision(0.25);  // ties inside the tolerance do not chain: the order is not transitive
    for (int round = 0; round < 100; ++round) {
        const int32_t w = 3, h = 1 + int32_t(rng() % 40);
        CDS_Grid g(w, h);
        std::vector<std::string> rows;
        for (int32_t y = 0; y < h; ++y) {
            switch (rng() % 5) {
            case 0: g.SetCell(0, y, Real(double(rng() % 8) / 5)); break;
            case 1: g.SetCell(0, y, Str(rng() % 2 ? "a" : "b")); break;
            case 2: g.SetCell(0, y, Int32(int32_t(rng() % 3))); break;
            case 3: g.SetCell(0, y, Real(std::nan(""))); break;
            default: g.SetCell(0, y, Int64(int64_t(rng() % 3))); break;
            }
            g.SetCell(1, y, Real(y));
            g.SetCell(2, y, Str(("row" + std::to_string(y)).c_str()));
            rows.push_back(Describe(*g.Cell(0, y)) + " " + std::to_string(y));
        }
        g.Sort(0, rng() % 2);
        std::vector<std::string> after;
        for (int32_t y = 0; y < h; ++y) {
            const int32_t tag = int32_t(g.Cell(1, y)->real);
            ASSERT_EQ(std::string(g.Cell(2, y)->str->text), "row" + std::to_string(tag));  // the row moved whole
            after.push_back(Describe(*g.Cell(0, y)) + " " + std::to_string(tag));
        }
        std::sort(rows.begin(), rows.end());
        std::sort(after.begin(), after.end());
        ASSERT_EQ(after, rows);  // a permutation of the rows
    }
}

TEST_F(DsGrid, ShuffleDrawsFourTimesEightPerCell)
{
    auto run = [](CDS_Grid& g) {
        Random_Seed(77);
        g.Shuffle();
        std::vector<uint32_t> state;
        for (int i = 0; i < 16; ++i) state.push_back(Random_StateWord(i));
        state.push_back(uint32_t(Random_Index()));
        return state;
    };
    CDS_Grid g(5, 3), again(5, 3);
    DsGrid_Number(g);
    DsGrid_Number(again);
    const std::vector<uint32_t> after = run(g);
    run(again);
    EXPECT_EQ(DsGrid_Show(g), DsGrid_Show(again));  // one seed, one permutation
    Random_Seed(77);
    for (int i = 0; i < 32 * 15; ++i) Random_Int(i % 4 < 2 ? 5 : 3);
    std::vector<uint32_t> plain;
    for (int i = 0; i < 16; ++i) plain.push_back(Random_StateWord(i));
    plain.push_back(uint32_t(Random_Index()));
    EXPECT_EQ(after, plain);
    std::vector<double> cells;
    for (int32_t i = 0; i < 15; ++i) cells.push_back(g.Cells()[i].real);
    std::sort(cells.begin(), cells.end());
    CDS_Grid numbered(5, 3);
    DsGrid_Number(numbered);
    std::vector<double> expected;
    for (int32_t i = 0; i < 15; ++i) expected.push_back(numbered.Cells()[i].real);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(cells, expected);  // every cell survives
}

class DsPriority : public DsTest {};

TEST_F(DsPriority, EdgeCases)
{
    auto deleted = [](CDS_Priority& p, bool max) {
        Held out;
        if (max) p.DeleteMax(out.v);
        else p.DeleteMin(out.v);
        return Describe(out);
    };
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"ties go to the lowest slot",
         [&] {
             CDS_Priority p;
             p.Add(Str("a"), Real(5));
             p.Add(Str("b"), Real(5));
             p.Add(Str("c"), Real(1));
             EXPECT_EQ(deleted(p, true), "string:a");
             EXPECT_EQ(deleted(p, true), "string:b");
         }},
        {"removal moves the last entry into the hole, which decides later ties",
         [&] {
             CDS_Priority p;
             const char* names[] = {"a", "b", "c", "d"};
             const double prios[] = {1, 3, 3, 2};
             for (int i = 0; i < 4; ++i) p.Add(Str(names[i]), Real(prios[i]));
             EXPECT_EQ(deleted(p, false), "string:a");
             EXPECT_EQ(Describe(*p.Value(0)), "string:d");
             EXPECT_EQ(deleted(p, true), "string:b");
             EXPECT_EQ(deleted(p, true), "string:c");
             EXPECT_EQ(p.Size(), 1);
         }},
        {"an empty queue gives real 0 and stays empty",
         [&] {
             CDS_Priority p;
             EXPECT_EQ(deleted(p, false), "real:0");
             EXPECT_EQ(p.Size(), 0);
             EXPECT_EQ(p.FindMin(), nullptr);
             EXPECT_EQ(p.FindMax(), nullptr);
         }},
        {"change priority reaches the first of two equal values only",
         [&] {
             CDS_Priority p;
             p.Add(Str("v"), Real(1));
             p.Add(Str("v"), Real(2));
             p.ChangePriority(Str("v"), Real(9));
             EXPECT_EQ(Describe(*p.Priority(0)), "real:9");
             EXPECT_EQ(Describe(*p.Priority(1)), "real:2");
             EXPECT_EQ(Describe(*p.FindPriority(Str("v"))), "real:9");
             EXPECT_EQ(p.FindPriority(Str("w")), nullptr);
             p.DeleteValue(Str("v"));
             EXPECT_EQ(Describe(*p.Priority(0)), "real:2");
         }},
        {"priorities within the precision are equal for the scan; kinds order as compared",
         [&] {
             CDS_Priority p;
             p.Add(Str("first"), Real(1));
             p.Add(Str("second"), Real(1.000000001));
             EXPECT_EQ(Describe(*p.FindMax()), "string:first");
             p.Add(Str("text"), Str("zz"));
             EXPECT_EQ(Describe(*p.FindMax()), "string:text");
             EXPECT_EQ(Describe(*p.FindMin()), "string:first");
         }},
        {"growth by 16 for both arrays; assign copies count and slots",
         [&] {
             CDS_Priority p, q;
             for (int i = 0; i < 17; ++i) p.Add(Real(i), Real(-i));
             EXPECT_EQ(p.Capacity(), 32);
             q.Add(Str("old"), Real(0));
             q.Assign(p);
             EXPECT_EQ(q.Size(), 17);
             EXPECT_EQ(Describe(*q.FindMin()), "real:16");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.run();
    }
}

}  // namespace
