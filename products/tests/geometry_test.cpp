// Position and effective sampling area against a direct count: points of the measuring plane
// are mapped to the two cameras' pixels by the perspective relations, and a drop of given
// widths at each point is kept when the shading rule leaves the end pixels of both lines dark.
#include <gtest/gtest.h>

#include <cmath>

#include "products/geometry.h"
#include "products/tests/support.h"

namespace dropix::products {
namespace {

const geometry g = geometry_of(test::instrument());

// Offsets at which a point (x, y) appears: the coupled perspective relations solved by
// fixed-point iteration.
struct offsets {
  double a, b;
};
offsets locate(double x, double y) {
  offsets o{0, 0};
  for (int i = 0; i < 60; ++i) {
    const offsets last = o;
    o.a = x / g.xs_a(o.b);
    o.b = y / g.xs_b(o.a);
    if (std::abs(o.a - last.a) + std::abs(o.b - last.b) < 1e-11) break;
  }
  return o;
}

// Area (mm^2) of the points at which a drop of widths w_a, w_b is seen whole, counted on an
// n x n grid over a box holding the whole measuring area.
double counted_area(double w_a, double w_b, int margin, int n) {
  const double half_x = g.gate1 * g.xs_a(-g.gate1) + 1, half_y = g.gate1 * g.xs_b(g.gate1) + 1;
  const double dx = 2 * half_x / n, dy = 2 * half_y / n;
  long inside = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const offsets o = locate(-half_x + (i + 0.5) * dx, -half_y + (j + 0.5) * dy);
      const double ua = g.gate1 + o.a, ub = g.gate1 + o.b;
      const double ra = w_a / (2 * g.xs_a(o.b)), rb = w_b / (2 * g.xs_b(o.a));
      const double lo = margin - 1.0, hi = 2.0 * g.gate1 - margin;
      inside += ua - ra > lo && ua + ra < hi && ub - rb > lo && ub + rb < hi;
    }
  return static_cast<double>(inside) * dx * dy;
}

TEST(effective_area, equals_the_counted_area_for_points_and_drops) {
  struct c {
    double w_a, w_b;
    int margin;
  };
  for (const c& k : {c{0, 0, 1}, c{2, 2, 1}, c{6, 3.5, 1}, c{1, 8, 4}}) {
    const double counted = counted_area(k.w_a, k.w_b, k.margin, 900);
    EXPECT_NEAR(effective_area(g, k.w_a, k.w_b, k.margin), counted, 2e-3 * counted)
        << "widths " << k.w_a << ", " << k.w_b << ", margin " << k.margin;
  }
}

TEST(effective_area, of_a_point_is_the_simulated_instruments_measuring_area) {
  // dropix-sim reports 9550 mm^2 for this instrument (docs/simulation.md).
  EXPECT_NEAR(effective_area(g, 0, 0, 1), 9550.0, 5.0);
}

TEST(effective_area, shrinks_as_a_drop_widens_and_vanishes_beyond_the_line) {
  double last = effective_area(g, 0, 0, 1);
  for (double w = 0.5; w <= 20; w += 0.5) {
    const double a = effective_area(g, w, w, 1);
    EXPECT_LT(a, last) << w;
    last = a;
  }
  // Roughly (W_a - w)(W_b - w) with the line widths W of 97 and 98 mm.
  EXPECT_NEAR(effective_area(g, 5, 5, 1), (97.3 - 5) * (98.2 - 5), 0.01 * 8600);
  EXPECT_EQ(effective_area(g, 200, 1, 1), 0.0);
  EXPECT_EQ(effective_area(g, 1, 200, 1), 0.0);
  EXPECT_EQ(effective_area(g, -3, -3, 1), effective_area(g, 0, 0, 1));  // no negative widths
}

TEST(effective_area, converges_with_the_slices_used_by_the_table) {
  for (double w : {0.0, 1.3, 4.7, 9.9}) {
    const double fine = effective_area(g, w, 0.8 * w, 1, 65536);
    EXPECT_NEAR(effective_area(g, w, 0.8 * w, 1, 1024), fine, 1e-5 * fine) << w;
  }
}

TEST(area_table, agrees_with_the_integral_between_its_nodes) {
  area_table table(g, 2);
  const double scale = table.measuring_area();
  EXPECT_DOUBLE_EQ(scale, effective_area(g, 0, 0, 2, 1024));
  for (double wa = 0.07; wa < 14; wa += 0.61)
    for (double wb = 0.13; wb < 14; wb += 0.73)
      EXPECT_NEAR(table(wa, wb), effective_area(g, wa, wb, 2), 1e-4 * scale) << wa << ", " << wb;
}

TEST(position, inverts_the_perspective_relations) {
  EXPECT_NEAR(position_of(g, g.gate1, g.gate1).x, 0.0, 1e-12);
  EXPECT_NEAR(position_of(g, g.gate1, g.gate1).y, 0.0, 1e-12);
  for (double x : {-45.0, -12.5, 0.0, 30.0, 47.0})
    for (double y : {-46.0, -3.0, 21.0, 46.5}) {
      const offsets o = locate(x, y);
      const position p = position_of(g, g.gate1 + o.a, g.gate1 + o.b);
      EXPECT_NEAR(p.x, x, 1e-9);
      EXPECT_NEAR(p.y, y, 1e-9);
    }
}

TEST(geometry, refuses_headers_it_cannot_measure_with) {
  EXPECT_EQ(geometry_fault(g), nullptr);
  geometry bad = g;
  bad.gate1 = 2;
  EXPECT_NE(geometry_fault(bad), nullptr);
  bad = g;
  bad.xs1 = 0;
  EXPECT_NE(geometry_fault(bad), nullptr);
  bad = g;
  bad.xs2 = std::nan("");
  EXPECT_NE(geometry_fault(bad), nullptr);
  bad = g;
  bad.l1 = -310;
  EXPECT_NE(geometry_fault(bad), nullptr);
  bad = g;
  bad.l2 = 20;  // camera B inside the area: its scale turns negative on camera A's left
  EXPECT_NE(geometry_fault(bad), nullptr);
}

}  // namespace
}  // namespace dropix::products
