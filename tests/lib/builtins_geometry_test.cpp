// Geometry built-ins through the function table: the room's direction convention, the snaps, and which
// built-ins compute in single precision.
#include "builtin_call.h"

#include "lib/builtins_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using kvtest::Call;
using kvtest::OwnedValue;
using kvtest::R;

class GeometryBuiltins : public kvtest::BuiltinTest {};

TEST_F(GeometryBuiltins, EdgeCases)
{
    struct Row {
        const char* name;
        std::vector<double> args;
        double want;  // NaN: any NaN
    };
    const double nan = std::nan("");
    const Row rows[] = {
        {"point_direction", {0, 0, 1, 0}, 0},
        {"point_direction", {0, 0, 0, -1}, 90},
        {"point_direction", {0, 0, -1, 0}, 180},
        {"point_direction", {0, 0, 0, 1}, 270},
        {"point_direction", {0, 0, 1, 1}, 315},
        {"point_direction", {0, 0, 1, -1}, 45},
        {"point_direction", {5, 5, 5, 5}, 0},
        {"point_distance", {0, 0, 3, 4}, 5},
        {"point_distance_3d", {0, 0, 0, 1, 2, 2}, 3},
        {"lengthdir_x", {10, 90}, 0},
        {"lengthdir_y", {10, 90}, -10},
        {"lengthdir_x", {10, 0}, 10},
        {"lengthdir_y", {10, 270}, 10},
        {"lengthdir_x", {10, 180}, -10},
        {"angle_difference", {10, 350}, 20},
        {"angle_difference", {350, 10}, -20},
        {"angle_difference", {0, 180}, -180},
        {"angle_difference", {180, 0}, -180},
        {"angle_difference", {720, 0}, 0},
        {"angle_difference", {-725, 0}, -5},
        {"dot_product_normalised", {1, 0, 0, 1}, 0},
        {"dot_product_normalised", {2, 0, 5, 0}, 1},
        {"dot_product_normalised", {0, 0, 1, 0}, nan},
        {"dot_product_3d_normalised", {0, 3, 0, 0, -2, 0}, -1},
        {"dot_product", {1, 2, 3, 4}, 11},
        {"dot_product_3d", {1, 2, 3, 4, 5, 6}, 32},
        // dot_product reads doubles; point_distance rounds to single precision.
        {"dot_product", {0.1, 0, 3, 0}, 0.1 * 3},
        {"point_distance", {0, 0, 0.1, 0}, double(0.1f)},
    };
    for (const Row& row : rows) {
        std::vector<OwnedValue> args;
        for (double d : row.args) args.push_back(R(d));
        const OwnedValue result = Call(row.name, std::move(args));
        SCOPED_TRACE(std::string(row.name) + " row " + std::to_string(&row - rows));
        ASSERT_EQ(result.Kind(), uint32_t(VALUE_REAL));
        if (std::isnan(row.want)) {
            EXPECT_TRUE(std::isnan(result.Real()));
        } else {
            EXPECT_EQ(result.Real(), row.want);
        }
    }
    EXPECT_EQ(Reported(), "");
}

TEST_F(GeometryBuiltins, LengthDirSnapsOnlyAnExcess)
{
    // 5.00004 becomes 5 and -3.00004 becomes -3; 4.99996 stays.
    EXPECT_EQ(LengthDir_X(5.00004f, 0), 5.0f);
    EXPECT_EQ(LengthDir_X(-3.00004f, 0), -3.0f);
    EXPECT_EQ(LengthDir_X(4.99996f, 0), 4.99996f);
    EXPECT_EQ(LengthDir_Y(5.00004f, 270), 5.0f);
    EXPECT_NEAR(Point_Direction(0, 0, -1, 1), 225.0f, 1e-4);
}

}  // namespace
