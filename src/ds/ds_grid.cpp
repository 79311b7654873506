// ds_grid: cells x + y * width, bulk operations over clipped regions and disks (walked x outer, y inner),
// copies between grids, the row sort and the shuffle.
#include "core/arguments.h"
#include "core/console.h"
#include "core/random.h"
#include "core/value.h"
#include "ds/ds.h"
#include "ds/ds_internal.h"
#include "world/object_base.h"
#include "world/runner.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

RValue DsGrid_Hold(const RValue& v)
{
    RValue held;
    std::memcpy(static_cast<void*>(&held), &v, sizeof held);
    return held;
}

// Kind words compared whole: a marked or flagged string is not a string here.
bool DsGrid_IsString(const RValue& v) { return v.kind == VALUE_STRING; }

const char* DsGrid_Text(const RValue& v) { return v.str && v.str->text ? v.str->text : ""; }

bool DsGrid_SizeValid(int32_t width, int32_t height)
{
    return width >= 0 && height >= 0 && int64_t(width) * int64_t(height) <= CDS_Grid::kMaxCells;
}

}  // namespace

void* CDS_Grid::operator new(size_t size)
{
    void* p = MemoryManager::Alloc(size, __FILE__, __LINE__, true);
    if (!p) throw std::bad_alloc();
    return p;
}

void CDS_Grid::operator delete(void* p) { MemoryManager::Free(p); }

CDS_Grid::CDS_Grid(int32_t width, int32_t height) { SetSize(width, height); }

CDS_Grid::~CDS_Grid() { SetSize(0, 0); }

bool CDS_Grid::SetSize(int32_t width, int32_t height)
{
    if (!DsGrid_SizeValid(width, height)) return false;
    const int64_t old = int64_t(m_width) * m_height;
    for (int64_t i = 0; m_cells && i < old; ++i) RValue_Free(&m_cells[i]);
    const int64_t n = int64_t(width) * height;
    if (n > 0) {
        if (n > m_room) {
            MemFree(m_cells);
            m_cells = nullptr;
            m_room = 0;
            m_cells = static_cast<RValue*>(MemoryManager::Alloc(size_t(n) * sizeof(RValue), __FILE__, __LINE__, false));
            if (!m_cells) {
                m_width = m_height = 0;
                return false;
            }
            m_room = n;
        }
        std::memset(static_cast<void*>(m_cells), 0, size_t(n) * sizeof(RValue));  // every cell real 0
    } else {
        MemFree(m_cells);
        m_cells = nullptr;
        m_room = 0;
    }
    m_width = width;
    m_height = height;
    return true;
}

bool CDS_Grid::Resize(int32_t width, int32_t height)
{
    if (!DsGrid_SizeValid(width, height)) return false;
    const int64_t n = int64_t(width) * height;
    RValue* cells = nullptr;
    if (n > 0) {
        cells = static_cast<RValue*>(MemoryManager::Alloc(size_t(n) * sizeof(RValue), __FILE__, __LINE__, true));
        if (!cells) return false;
    }
    const int32_t w = std::min(width, m_width), h = std::min(height, m_height);
    for (int32_t x = 0; h > 0 && x < w; ++x)
        for (int32_t y = 0; y < h; ++y) DsValue_Move(&cells[x + int64_t(y) * width], Cell(x, y));
    const int64_t old = int64_t(m_width) * m_height;
    for (int64_t i = 0; m_cells && i < old; ++i) RValue_Free(&m_cells[i]);
    MemFree(m_cells);
    m_cells = cells;
    m_room = n;
    m_width = width;
    m_height = height;
    return true;
}

void CDS_Grid::Assign(const CDS_Grid& source)
{
    if (&source == this || !SetSize(source.m_width, source.m_height)) return;
    const int64_t n = int64_t(m_width) * m_height;
    for (int64_t i = 0; i < n; ++i) RValue_Copy(&m_cells[i], &source.m_cells[i]);
}

void CDS_Grid::SetCell(int32_t x, int32_t y, const RValue& v) { RValue_Copy(Cell(x, y), &v); }

void CDS_Grid::Clear(const RValue& v)
{
    const RValue value = DsGrid_Hold(v);
    RValue kept;
    RValue_SetUndefined(&kept);
    RValue_Copy(&kept, &value);  // v may be one of the cells
    const int64_t n = int64_t(m_width) * m_height;
    for (int64_t i = 0; i < n; ++i) RValue_Copy(&m_cells[i], &kept);
    RValue_Free(&kept);
}

void CDS_Grid::ApplyOp(int32_t op, RValue* cell, const RValue& v)
{
    RValue value = DsGrid_Hold(v);  // v may be the cell itself
    switch (op) {
    case 1:
        RValue_Copy(cell, &value);
        return;
    case 2:
        if (DsGrid_IsString(*cell) && DsGrid_IsString(value)) {
            // Joined whole, without a fixed buffer.
            const char* a = DsGrid_Text(*cell);
            const char* b = DsGrid_Text(value);
            const size_t la = std::strlen(a), lb = std::strlen(b);
            if (la + lb > size_t(INT32_MAX - 1)) return;
            RefString* joined = RefString::CreateWithLength(static_cast<int32_t>(la + lb));
            if (!joined || !joined->text) {
                RefString::ReleaseChecked(joined);
                return;
            }
            std::memcpy(joined->text, a, la);
            std::memcpy(joined->text + la, b, lb);
            RValue_Free(cell);
            cell->str = joined;
            cell->kind = VALUE_STRING;
            return;
        }
        if (DsGrid_IsString(*cell) || DsGrid_IsString(value)) {
            RValue_Copy(cell, &value);
            return;
        }
        {
            const double sum = QZGR(cell, 0) + QZGR(&value, 0);
            RValue_Free(cell);
            RValue_SetReal(cell, sum);
        }
        return;
    case 3:
        if (DsGrid_IsString(*cell) || DsGrid_IsString(value)) return;
        {
            const double product = QZGR(cell, 0) * QZGR(&value, 0);
            RValue_Free(cell);
            RValue_SetReal(cell, product);
        }
        return;
    default:
        return;
    }
}

void CDS_Grid::CellOp(int32_t gridIndex, int32_t op, int32_t x, int32_t y, const RValue& v)
{
    if (x >= 0 && x < m_width && y >= 0 && y < m_height) {
        ApplyOp(op, Cell(x, y), v);
        return;
    }
    ReleaseConsole->Output("Grid %d, index out of bounds writing [%d,%d] - size is [%d,%d]\n", gridIndex, x, y, m_width,
                           m_height);
}

bool CDS_Grid::ClipRegion(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t* b) const
{
    b[0] = std::max(std::min(x1, x2), 0);
    b[1] = std::min(std::max(x1, x2), m_width - 1);
    b[2] = std::max(std::min(y1, y2), 0);
    b[3] = std::min(std::max(y1, y2), m_height - 1);
    return b[0] <= b[1] && b[2] <= b[3];
}

bool CDS_Grid::ClipDisk(double cx, double cy, double r, int32_t* b) const
{
    if (m_width <= 0 || m_height <= 0) return false;
    // Bounds in doubles first: NaN and infinities clamp to the grid (and then nothing passes the test).
    double lo[2] = {std::floor(cx - r), std::floor(cy - r)};
    double hi[2] = {std::ceil(cx + r), std::ceil(cy + r)};
    const double top[2] = {double(m_width - 1), double(m_height - 1)};
    for (int i = 0; i < 2; ++i) {
        if (!(lo[i] >= 0)) lo[i] = 0;
        if (!(hi[i] <= top[i])) hi[i] = top[i];
        if (lo[i] > hi[i]) return false;
    }
    b[0] = static_cast<int32_t>(lo[0]);
    b[1] = static_cast<int32_t>(hi[0]);
    b[2] = static_cast<int32_t>(lo[1]);
    b[3] = static_cast<int32_t>(hi[1]);
    return true;
}

namespace {

template <class F>
void DsGrid_WalkRegion(CDS_Grid* g, int32_t x1, int32_t y1, int32_t x2, int32_t y2, F&& f)
{
    int32_t b[4];
    if (!g->ClipRegion(x1, y1, x2, y2, b)) return;
    for (int32_t x = b[0]; x <= b[1]; ++x)
        for (int32_t y = b[2]; y <= b[3]; ++y)
            if (!f(x, y, g->Cell(x, y))) return;
}

template <class F>
void DsGrid_WalkDisk(CDS_Grid* g, double cx, double cy, double r, F&& f)
{
    int32_t b[4];
    if (!g->ClipDisk(cx, cy, r, b)) return;
    const double r2 = r * r;
    for (int32_t x = b[0]; x <= b[1]; ++x)
        for (int32_t y = b[2]; y <= b[3]; ++y) {
            const double dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy <= r2 && !f(x, y, g->Cell(x, y))) return;
        }
}

// The extreme-value walk: the first cell visited, then every later one that compares past it.
struct DsGrid_Extreme {
    bool maximum;
    const RValue* best = nullptr;
    bool mixed = false;
    bool Visit(const RValue* cell)
    {
        if (!best) {
            best = cell;
            return true;
        }
        const bool bestString = RValue_Kind(best) == VALUE_STRING, cellString = RValue_Kind(cell) == VALUE_STRING;
        if (g_ReleaseChecks ? bestString != cellString : (!bestString && cellString)) mixed = true;
        const int32_t c = RValue_Compare(*best, *cell, DS_Precision);
        if (maximum ? c < 0 : c > 0) best = cell;
        return true;
    }
    void Finish(RValue* result, const char* name) const
    {
        if (!best) return;
        if (mixed)
            ReleaseConsole->Output("Warning:: %s called on grid with mix of strings and numerical values\n", name);
        RValue_Copy(result, best);
    }
};

void DsGrid_SetReal(RValue* result, double d)
{
    RValue_Free(result);
    RValue_SetReal(result, d);
}

}  // namespace

void CDS_Grid::RegionOp(int32_t op, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RValue& v)
{
    RValue value;
    RValue_SetUndefined(&value);
    RValue_Copy(&value, &v);  // v may be one of the cells
    DsGrid_WalkRegion(this, x1, y1, x2, y2, [&](int32_t, int32_t, RValue* cell) {
        ApplyOp(op, cell, value);
        return true;
    });
    RValue_Free(&value);
}

void CDS_Grid::DiskOp(int32_t op, double cx, double cy, double r, const RValue& v)
{
    RValue value;
    RValue_SetUndefined(&value);
    RValue_Copy(&value, &v);
    DsGrid_WalkDisk(this, cx, cy, r, [&](int32_t, int32_t, RValue* cell) {
        ApplyOp(op, cell, value);
        return true;
    });
    RValue_Free(&value);
}

void CDS_Grid::GridRegionOp(int32_t op, const CDS_Grid& source, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                            int32_t xpos, int32_t ypos)
{
    int32_t b[4];
    if (!source.ClipRegion(x1, y1, x2, y2, b)) return;
    int64_t sx0 = b[0], sx1 = b[1], sy0 = b[2], sy1 = b[3];
    int64_t dx = xpos, dy = ypos;
    if (dx < 0) {
        sx0 -= dx;
        dx = 0;
    }
    if (dy < 0) {
        sy0 -= dy;
        dy = 0;
    }
    sx1 = std::min<int64_t>(sx1, m_width - 1 + sx0 - dx);
    sy1 = std::min<int64_t>(sy1, m_height - 1 + sy0 - dy);
    if (sx0 > sx1 || sy0 > sy1) return;
    // On one grid the walk runs against the shift, so no source cell is overwritten before it is read.
    const bool xDown = sx0 < dx, yDown = sy0 < dy;
    auto* src = const_cast<CDS_Grid*>(&source);
    for (int64_t i = 0; i <= sx1 - sx0; ++i) {
        const int64_t sx = xDown ? sx1 - i : sx0 + i;
        for (int64_t j = 0; j <= sy1 - sy0; ++j) {
            const int64_t sy = yDown ? sy1 - j : sy0 + j;
            const int64_t tx = dx + sx - sx0, ty = dy + sy - sy0;
            if (sx < 0 || sx >= source.m_width || sy < 0 || sy >= source.m_height) continue;
            if (tx < 0 || tx >= m_width || ty < 0 || ty >= m_height) continue;
            ApplyOp(op, Cell(int32_t(tx), int32_t(ty)), *src->Cell(int32_t(sx), int32_t(sy)));
        }
    }
}

void CDS_Grid::RegionSum(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    DsGrid_SetReal(result, 0.0);
    double sum = 0.0;
    DsGrid_WalkRegion(this, x1, y1, x2, y2, [&](int32_t, int32_t, RValue* cell) {
        sum += QZGR(cell, 0);
        return true;
    });
    result->real = sum;
}

void CDS_Grid::RegionMean(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    double sum = 0.0;
    int64_t count = 0;
    DsGrid_WalkRegion(this, x1, y1, x2, y2, [&](int32_t, int32_t, RValue* cell) {
        if (cell->kind == VALUE_REAL) {
            sum += cell->real;
            ++count;
        }
        return true;
    });
    DsGrid_SetReal(result, count ? sum / double(count) : 0.0);
}

void CDS_Grid::DiskSum(RValue* result, double cx, double cy, double r)
{
    double sum = 0.0;
    DsGrid_WalkDisk(this, cx, cy, r, [&](int32_t, int32_t, RValue* cell) {
        if (cell->kind == VALUE_REAL) sum += cell->real;
        return true;
    });
    DsGrid_SetReal(result, sum);
}

void CDS_Grid::DiskMean(RValue* result, double cx, double cy, double r)
{
    double sum = 0.0;
    int64_t count = 0;
    DsGrid_WalkDisk(this, cx, cy, r, [&](int32_t, int32_t, RValue* cell) {
        if (cell->kind == VALUE_REAL) {
            sum += cell->real;
            ++count;
        }
        return true;
    });
    DsGrid_SetReal(result, count ? sum / double(count) : 0.0);
}

void CDS_Grid::RegionMax(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    DsGrid_Extreme e{true};
    DsGrid_WalkRegion(this, x1, y1, x2, y2, [&](int32_t, int32_t, RValue* cell) { return e.Visit(cell); });
    e.Finish(result, "ds_grid_get_max");
}

void CDS_Grid::RegionMin(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    DsGrid_Extreme e{false};
    DsGrid_WalkRegion(this, x1, y1, x2, y2, [&](int32_t, int32_t, RValue* cell) { return e.Visit(cell); });
    e.Finish(result, "ds_grid_get_min");
}

void CDS_Grid::DiskMax(RValue* result, double cx, double cy, double r)
{
    DsGrid_Extreme e{true};
    DsGrid_WalkDisk(this, cx, cy, r, [&](int32_t, int32_t, RValue* cell) { return e.Visit(cell); });
    e.Finish(result, "ds_grid_get_disk_max");
}

void CDS_Grid::DiskMin(RValue* result, double cx, double cy, double r)
{
    DsGrid_Extreme e{false};
    DsGrid_WalkDisk(this, cx, cy, r, [&](int32_t, int32_t, RValue* cell) { return e.Visit(cell); });
    e.Finish(result, "ds_grid_get_disk_min");
}

namespace {

// The first cell equal to v in walk order: what (0 exists, 1 x, 2 y) of it goes into result.
template <class Walk>
void DsGrid_FindValue(RValue* result, int what, const RValue& v, Walk&& walk)
{
    DsGrid_SetReal(result, what == 0 ? 0.0 : -1.0);
    walk([&](int32_t x, int32_t y, RValue* cell) {
        if (RValue_Compare(*cell, v, DS_Precision) != 0) return true;
        result->real = what == 0 ? 1.0 : (what == 1 ? x : y);
        return false;
    });
}

}  // namespace

void CDS_Grid::RegionValueExists(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RValue& v)
{
    DsGrid_FindValue(result, 0, v, [&](auto f) { DsGrid_WalkRegion(this, x1, y1, x2, y2, f); });
}

void CDS_Grid::RegionValueX(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RValue& v)
{
    DsGrid_FindValue(result, 1, v, [&](auto f) { DsGrid_WalkRegion(this, x1, y1, x2, y2, f); });
}

void CDS_Grid::RegionValueY(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RValue& v)
{
    DsGrid_FindValue(result, 2, v, [&](auto f) { DsGrid_WalkRegion(this, x1, y1, x2, y2, f); });
}

void CDS_Grid::DiskValueExists(RValue* result, double cx, double cy, double r, const RValue& v)
{
    DsGrid_FindValue(result, 0, v, [&](auto f) { DsGrid_WalkDisk(this, cx, cy, r, f); });
}

void CDS_Grid::DiskValueX(RValue* result, double cx, double cy, double r, const RValue& v)
{
    DsGrid_FindValue(result, 1, v, [&](auto f) { DsGrid_WalkDisk(this, cx, cy, r, f); });
}

void CDS_Grid::DiskValueY(RValue* result, double cx, double cy, double r, const RValue& v)
{
    DsGrid_FindValue(result, 2, v, [&](auto f) { DsGrid_WalkDisk(this, cx, cy, r, f); });
}

void CDS_Grid::Sort(int32_t column, bool ascending)
{
    if (column < 0 || column >= m_width || m_height < 2) return;
    using Rows = std::vector<int32_t, MemAllocator<int32_t>>;
    Rows order(static_cast<size_t>(m_height)), spare(static_cast<size_t>(m_height));
    for (int32_t y = 0; y < m_height; ++y) order[size_t(y)] = y;
    const int32_t sign = ascending ? 1 : -1;
    auto before = [&](int32_t a, int32_t b) {
        return RValue_Compare(*Cell(column, a), *Cell(column, b), DS_Precision) * sign < 0;
    };
    // Bottom-up merge sort: it needs no consistent ordering to finish, which ties within the tolerance
    // and kinds that never compare equal do not give.
    for (size_t width = 1; width < order.size(); width *= 2) {
        for (size_t lo = 0; lo < order.size(); lo += 2 * width) {
            const size_t mid = std::min(lo + width, order.size()), hi = std::min(lo + 2 * width, order.size());
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) spare[k++] = before(order[j], order[i]) ? order[j++] : order[i++];
            while (i < mid) spare[k++] = order[i++];
            while (j < hi) spare[k++] = order[j++];
        }
        order.swap(spare);
    }
    // Rows move whole through one copy of the cell block.
    const int64_t n = int64_t(m_width) * m_height;
    auto* copy = static_cast<RValue*>(MemoryManager::Alloc(size_t(n) * sizeof(RValue), __FILE__, __LINE__, false));
    if (!copy) return;
    std::memcpy(static_cast<void*>(copy), m_cells, size_t(n) * sizeof(RValue));
    for (int32_t y = 0; y < m_height; ++y)
        for (int32_t x = 0; x < m_width; ++x) {
            RValue* to = Cell(x, y);
            const int64_t from = x + int64_t(order[size_t(y)]) * m_width;
            std::memcpy(static_cast<void*>(to), &copy[from], sizeof(RValue));
            DsValue_Moved(to, &m_cells[from]);
        }
    MemFree(copy);
}

void CDS_Grid::Shuffle()
{
    if (m_width <= 0 || m_height <= 0) return;
    const int64_t swaps = int64_t(m_width) * m_height * 8;
    for (int64_t k = 0; k < swaps; ++k) {
        const int32_t x1 = static_cast<int32_t>(Random_Int(m_width));
        const int32_t x2 = static_cast<int32_t>(Random_Int(m_width));
        const int32_t y1 = static_cast<int32_t>(Random_Int(m_height));
        const int32_t y2 = static_cast<int32_t>(Random_Int(m_height));
        if (x1 != x2 || y1 != y2) DsValue_Swap(Cell(x1, y1), Cell(x2, y2));
    }
}

void CDS_Grid::MarkReferences(uint8_t* marks, int32_t capacity)
{
    const int64_t n = int64_t(m_width) * m_height;
    for (int64_t i = 0; i < n; ++i) RValue_Mark(&m_cells[i], marks, capacity);
}
