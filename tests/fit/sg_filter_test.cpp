#include "fit/sg_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "maps/storage.h"
#include "support/failing_allocator.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

// The kinds by the order of the derivative taken, as the weights below count them.
constexpr int32_t ORDER_SMOOTH = 0;
constexpr int32_t ORDER_FIRST = 1;
constexpr int32_t ORDER_SECOND = 2;
constexpr int32_t ORDER_THIRD = 3;

struct FilterCase {
  int32_t kind;
  int32_t length;
};

std::vector<FilterCase> all_filters() {
  std::vector<FilterCase> cases;
  for (int32_t kind = ORDER_SMOOTH; kind <= ORDER_THIRD; ++kind) {
    for (int32_t length = 3; length <= 15; length += 2) {
      if (kind == ORDER_THIRD && length == 3) continue;
      cases.push_back({kind, length});
    }
  }
  return cases;
}

std::string filter_name(const testing::TestParamInfo<FilterCase>& info) {
  return "kind" + std::to_string(info.param.kind) + "_length" + std::to_string(info.param.length);
}

// Weights of the samples at offsets -h..h in the kind-th derivative at offset 0 of the
// least-squares polynomial of degree max(2, kind) through them: kind! times row `kind` of
// (X^T X)^-1 X^T, solved by Gaussian elimination in long double.
std::vector<long double> least_squares_weights(int32_t length, int32_t kind) {
  const int h = (length - 1) / 2;
  const int terms = (kind > 2 ? kind : 2) + 1;
  long double factorial = 1;
  for (int i = 2; i <= kind; ++i) factorial *= i;
  std::vector<long double> weights;
  for (int j = -h; j <= h; ++j) {
    long double g[4][5] = {};
    for (int a = 0; a < terms; ++a) {
      for (int b = 0; b < terms; ++b) {
        for (int x = -h; x <= h; ++x) g[a][b] += std::pow(static_cast<long double>(x), a + b);
      }
      g[a][terms] = std::pow(static_cast<long double>(j), a);
    }
    for (int col = 0; col < terms; ++col) {
      int pivot = col;
      for (int r = col + 1; r < terms; ++r) {
        if (std::fabs(g[r][col]) > std::fabs(g[pivot][col])) pivot = r;
      }
      for (int c = 0; c <= terms; ++c) std::swap(g[col][c], g[pivot][c]);
      for (int r = 0; r < terms; ++r) {
        if (r == col) continue;
        const long double f = g[r][col] / g[col][col];
        for (int c = 0; c <= terms; ++c) g[r][c] -= f * g[col][c];
      }
    }
    weights.push_back(factorial * g[kind][terms] / g[kind][kind]);
  }
  return weights;
}

// The filter each table must realise. Smoothing of length 3 is the one table that departs from
// the least-squares quadratic (the identity there): it is the sample minus its second difference.
std::vector<long double> expected_weights(int32_t length, int32_t kind) {
  std::vector<long double> w = least_squares_weights(length, kind);
  if (kind == ORDER_SMOOTH && length == 3) {
    const std::vector<long double> second = least_squares_weights(3, ORDER_SECOND);
    for (int m = 0; m < 3; ++m) w[m] -= second[m];
  }
  return w;
}

class EveryFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(EveryFilter, TableIsTheLeastSquaresDerivative) {
  const FilterCase c = GetParam();
  SgTable t{};
  ASSERT_EQ(NO_ERROR, sg_table(c.length, SgKind{c.kind}, &t));
  ASSERT_EQ(c.length, t.length);
  const std::vector<long double> want = expected_weights(c.length, c.kind);
  for (int m = 0; m < c.length; ++m) {
    EXPECT_EQ(std::round(t.coefficients[m]), t.coefficients[m]) << "tap " << m;
    EXPECT_NEAR(static_cast<double>(want[m]), static_cast<double>(t.coefficients[m]) / t.normaliser,
                1e-15)
        << "tap " << m;
  }
}

// The polynomial a filter is exact for (a cubic for the third derivative, a quadratic otherwise)
// and what the filter must give for it at t.
double poly(int32_t kind, int t) {
  return kind == ORDER_THIRD ? 2.0 * t * t * t - 5.0 * t * t + 3 * t - 11
                             : 3.0 * t * t - 7.0 * t + 13;
}
double filtered_poly(int32_t kind, int32_t length, int t) {
  if (kind == ORDER_THIRD) return 12;
  switch (kind) {
    case ORDER_SMOOTH:
      return length == 3 ? poly(kind, t) - 6 : poly(kind, t);
    case ORDER_FIRST:
      return 6.0 * t - 7;
    default:
      return 6;
  }
}

// Lines of 40 samples along rows (or columns) of a map placed off the origin, written into a map
// placed elsewhere. Sample 25 of every line is invalid. Every output is either exact (the
// polynomial's value, an integer) or invalid within h of an end or of the missing sample.
TEST_P(EveryFilter, LinesOfPolynomialsGiveExactDerivativesAndSpreadInvalidity) {
  const FilterCase c = GetParam();
  const int n = 40, lines = 19, missing = 25, h = (c.length - 1) / 2;
  for (bool along_rows : {true, false}) {
    const int16_t w = along_rows ? n : lines, ht = along_rows ? lines : n;
    OwnedPhase src(Window{5, -2, w, ht});
    OwnedPhase dst(Window{100, 7, w, ht}, 123);
    for (int line = 0; line < lines; ++line) {
      for (int i = 0; i < n; ++i) {
        int32_t& v = along_rows ? src.cell(i, line) : src.cell(line, i);
        v = i == missing ? PHASE_INVALID + line % 8  // any value at or above the marker
                         : static_cast<int32_t>(poly(c.kind, i - 20)) + 100 * line;
      }
    }
    const ErrorCode rc = along_rows ? filter_rows(src.m, dst.m, c.length, SgKind{c.kind})
                                    : filter_columns(src.m, dst.m, c.length, SgKind{c.kind});
    ASSERT_EQ(NO_ERROR, rc);
    for (int line = 0; line < lines; ++line) {
      for (int i = 0; i < n; ++i) {
        const int32_t got = along_rows ? dst.cell(i, line) : dst.cell(line, i);
        const bool invalid = i < h || i >= n - h || std::abs(i - missing) <= h;
        const double offset = c.kind == ORDER_SMOOTH ? 100.0 * line : 0.0;
        const int32_t want =
            invalid ? PHASE_INVALID
                    : static_cast<int32_t>(filtered_poly(c.kind, c.length, i - 20) + offset);
        EXPECT_EQ(want, got) << (along_rows ? "row " : "column ") << line << " sample " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SgFilter, EveryFilter, testing::ValuesIn(all_filters()), filter_name);

constexpr int32_t X = PHASE_INVALID;

struct RowCase {
  const char* what;
  int32_t kind, length;
  std::vector<int32_t> in, out;
};

// Each line is filtered as a row and, stood on end, as a column.
TEST(FilterLines, SmallLines) {
  const RowCase cases[] = {
      {"central differences", 1, 3, {10, 14, 20, 20, 26}, {X, 5, 3, 3, X}},
      {"halves round away from zero", 1, 3, {0, 7, 5, 2, 0}, {X, 3, -3, -3, X}},
      {"a row as long as the filter", 1, 3, {1, 2, 3}, {X, X, X}},
      {"a row shorter than the filter", 0, 5, {1, 2, 3, 4}, {X, X, X, X}},
      {"sharpening of length 3", 0, 3, {0, 10, 0, 10}, {X, 30, -20, X}},
      {"results beyond 32 bits are invalid", 0, 3, {0, 2000000000, 0, 5}, {X, X, -2000000000, X}},
      {"an invalid sample spreads over h",
       1,
       3,
       {1, 2, 3, X, 5, 6, 7, 8},
       {X, 1, X, X, X, 1, 1, X}},
      {"largest valid input", 1, 3, {0, 0, 2147483639, 2147483639}, {X, 1073741824, 1073741824, X}},
  };
  for (const RowCase& c : cases) {
    OwnedPhase src = OwnedPhase::row(c.in);
    OwnedPhase dst = OwnedPhase::row(c.in, 3, 9);
    ASSERT_EQ(NO_ERROR, filter_rows(src.m, dst.m, c.length, SgKind{c.kind})) << c.what;
    EXPECT_EQ(c.out, dst.values()) << c.what;
    EXPECT_EQ(c.in, src.values()) << c.what;
    const int16_t n = static_cast<int16_t>(c.in.size());
    OwnedPhase column(Window{4, 2, 1, n});
    OwnedPhase column_out(Window{0, 0, 1, n});
    for (int i = 0; i < n; ++i) column.cell(0, i) = c.in[static_cast<std::size_t>(i)];
    ASSERT_EQ(NO_ERROR, filter_columns(column.m, column_out.m, c.length, SgKind{c.kind})) << c.what;
    EXPECT_EQ(c.out, column_out.values()) << c.what;
  }
}

TEST(FilterLines, InPlaceMatchesSeparateTarget) {
  OwnedPhase a(Window{0, 0, 6, 5});
  OwnedPhase b(Window{0, 0, 6, 5});
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 6; ++c) a.cell(c, r) = (r * 37 + c * c * 11) % 91;
  }
  for (bool rows : {true, false}) {
    OwnedPhase in_place(Window{0, 0, 6, 5});
    for (int r = 0; r < 5; ++r) {
      for (int c = 0; c < 6; ++c) in_place.cell(c, r) = a.cell(c, r);
    }
    ASSERT_EQ(NO_ERROR,
              rows ? filter_rows(a.m, b.m, 5, SgKind{0}) : filter_columns(a.m, b.m, 5, SgKind{0}));
    ASSERT_EQ(NO_ERROR, rows ? filter_rows(in_place.m, in_place.m, 5, SgKind{0})
                             : filter_columns(in_place.m, in_place.m, 5, SgKind{0}));
    EXPECT_EQ(b.values(), in_place.values());
  }
}

struct ErrorCase {
  const char* what;
  Window src, dst;
  int32_t length, kind;
  ErrorCode rows, columns;
};

TEST(Filters, RefusedArgumentsLeaveTheTargetAlone) {
  const Window w{0, 0, 20, 20};
  const ErrorCase cases[] = {
      {"even length", w, w, 4, 1, ERR_INVALID_PARAM, ERR_INVALID_PARAM},
      {"even length beyond the range", w, w, 16, 1, ERR_INVALID_PARAM, ERR_INVALID_PARAM},
      {"length 17", w, w, 17, 1, ERR_PARAM_OUT_OF_RANGE, ERR_PARAM_OUT_OF_RANGE},
      {"length 1", w, w, 1, 0, ERR_PARAM_OUT_OF_RANGE, ERR_PARAM_OUT_OF_RANGE},
      {"negative length", w, w, -3, 0, ERR_PARAM_OUT_OF_RANGE, ERR_PARAM_OUT_OF_RANGE},
      {"no third derivative of length 3", w, w, 3, 3, ERR_PARAM_OUT_OF_RANGE,
       ERR_PARAM_OUT_OF_RANGE},
      {"kind 4", w, w, 5, 4, ERR_PARAM_OUT_OF_RANGE, ERR_PARAM_OUT_OF_RANGE},
      {"kind -1", w, w, 5, -1, ERR_PARAM_OUT_OF_RANGE, ERR_PARAM_OUT_OF_RANGE},
      {"target of another width",
       w,
       {0, 0, 19, 20},
       3,
       1,
       ERR_WINDOWS_MISMATCHED,
       ERR_WINDOWS_MISMATCHED},
      {"target of another height",
       w,
       {0, 0, 20, 21},
       3,
       1,
       ERR_WINDOWS_MISMATCHED,
       ERR_WINDOWS_MISMATCHED},
  };
  for (const ErrorCase& c : cases) {
    OwnedPhase src(c.src, 5);
    OwnedPhase dst(c.dst, 77);
    const std::vector<int32_t> before = dst.values();
    EXPECT_EQ(c.rows, filter_rows(src.m, dst.m, c.length, SgKind{c.kind})) << c.what;
    EXPECT_EQ(c.columns, filter_columns(src.m, dst.m, c.length, SgKind{c.kind})) << c.what;
    EXPECT_EQ(c.rows, gradient_magnitude(src.m, dst.m, c.length, SgKind{c.kind})) << c.what;
    EXPECT_EQ(before, dst.values()) << c.what;
  }
}

TEST(Filters, ZeroLengthLinesAreOutOfRange) {
  PhaseMap empty{};
  empty.window = Window{0, 0, 0, 4};
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, filter_rows(empty, empty, 3, SgKind{1}));
  empty.window = Window{0, 0, 4, 0};
  EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, filter_columns(empty, empty, 3, SgKind{1}));
}

TEST(SgFilter, FiltersSampleValuesOnly) {
  FloatPairArray line{};
  line.count = 6;
  ASSERT_EQ(NO_ERROR, array_alloc(line));
  const float samples[] = {1.0f, 4.0f, 9.0f, 16.0f, SG_INVALID, 36.0f};
  for (int i = 0; i < 6; ++i) line.data[i] = FloatPair{-7.0f * i, samples[i]};
  ASSERT_EQ(NO_ERROR, sg_filter(line, 3, SgKind{ORDER_FIRST}));
  const float want[] = {SG_INVALID, 4.0f, 6.0f, SG_INVALID, SG_INVALID, SG_INVALID};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(-7.0f * i, line.data[i].a);
    EXPECT_EQ(want[i], line.data[i].b) << i;
  }
  {
    FailingAllocator fail(1);  // the scratch copy
    line.data[4].b = 25.0f;
    EXPECT_EQ(ERR_NO_MEM, sg_filter(line, 3, SgKind{ORDER_FIRST}));
    EXPECT_EQ(25.0f, line.data[4].b);
  }
  EXPECT_EQ(ERR_INVALID_PARAM, sg_filter(line, 6, SgKind{ORDER_SMOOTH}));
  array_free(line);
}

TEST(GradientMagnitude, LengthOfTheTwoDerivatives) {
  OwnedPhase src(Window{2, 3, 6, 5});
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 6; ++c) src.cell(c, r) = 3 * c + 4 * r;
  }
  src.cell(4, 2) = PHASE_INVALID;
  OwnedPhase dst(Window{0, 0, 6, 5});
  ASSERT_EQ(NO_ERROR, gradient_magnitude(src.m, dst.m, 3, SgKind{ORDER_FIRST}));
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 6; ++c) {
      const bool edge = r == 0 || r == 4 || c == 0 || c == 5;
      const bool beside_missing = (r == 2 && c >= 3 && c <= 5) || (c == 4 && r >= 1 && r <= 3);
      EXPECT_EQ(edge || beside_missing ? PHASE_INVALID : 5, dst.cell(c, r)) << c << ", " << r;
    }
  }
}

TEST(GradientMagnitude, LengthsBeyondTheMarkerAreInvalid) {
  OwnedPhase src(Window{0, 0, 4, 4});
  src.cell(0, 1) = -1600000000;
  src.cell(2, 1) = 1600000000;  // gx at (1, 1): 1.6e9
  src.cell(1, 0) = -1600000000;
  src.cell(1, 2) = 1600000000;  // gy at (1, 1): 1.6e9, so the length is 2.26e9
  src.cell(3, 2) = 1000000000;  // at (2, 2) gx is -0.3e9 and gy -0.8e9: sqrt(73) 1e8
  OwnedPhase dst(Window{0, 0, 4, 4});
  ASSERT_EQ(NO_ERROR, gradient_magnitude(src.m, dst.m, 3, SgKind{ORDER_FIRST}));
  EXPECT_EQ(PHASE_INVALID, dst.cell(1, 1));
  EXPECT_EQ(854400375, dst.cell(2, 2));
}

}  // namespace

}  // namespace harnix
