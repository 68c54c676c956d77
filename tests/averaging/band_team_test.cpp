// The parts the threaded run is built from that need no programs or scratch directory (so that
// the Windows test program runs them too): the band team, and the fit and subtraction in parts
// against the whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "averaging/band_team.h"
#include "reference/fit_reference.h"
#include "support/fit_calls.h"

namespace harnix {

namespace {

TEST(BandTeam, RunsEveryBandOncePerPassAndCutsRowsInOrder) {
  for (int32_t bands : {1, 2, 3, 7}) {
    BandTeam team(bands);
    ASSERT_EQ(team.bands(), bands);
    std::vector<std::atomic<int>> calls(static_cast<std::size_t>(bands));
    auto pass = [&](int32_t band) { calls[static_cast<std::size_t>(band)].fetch_add(1); };
    for (int i = 0; i < 50; ++i) team.run(pass);
    for (auto& c : calls) EXPECT_EQ(c.load(), 50) << bands;
    for (int32_t rows : {0, 1, 5, 1024}) {
      int32_t next = 0;
      for (int32_t b = 0; b < bands; ++b) {
        const RowRange r = band_rows(rows, bands, b);
        EXPECT_EQ(r.first, next);
        EXPECT_LE(r.count, rows / bands + 1);
        next += r.count;
      }
      EXPECT_EQ(next, rows);
    }
  }
  EXPECT_EQ(BandTeam(0).bands(), 1);
  EXPECT_GE(usable_cores(), 1);
}

// A side job runs on every band before its share of each run, and the run waits for it.
TEST(BandTeam, SideJobPrecedesEveryBandsShareUntilCleared) {
  for (int32_t bands : {1, 3}) {
    BandTeam team(bands);
    std::vector<std::atomic<int>> shares(static_cast<std::size_t>(bands));
    std::atomic<int> out_of_order{0};
    std::atomic<int> sides{0};
    auto pass = [&](int32_t band) { shares[static_cast<std::size_t>(band)].fetch_add(1); };
    auto side = [&](int32_t band) {
      if (shares[static_cast<std::size_t>(band)].load() != sides.load() / bands)
        out_of_order.fetch_add(1);
      sides.fetch_add(1);
    };
    team.set_side_job(side);
    for (int i = 0; i < 20; ++i) {
      team.run(pass);
      EXPECT_EQ(sides.load(), (i + 1) * bands);
    }
    team.clear_side_job();
    team.run(pass);
    EXPECT_EQ(sides.load(), 20 * bands);
    EXPECT_EQ(out_of_order.load(), 0);
  }
}

// A fit gathered in parts, rows split at random and gathered in a shuffled order, from the map or
// from copies of its pieces, is the fit made in one piece, bit for bit; so is a subtraction done
// in random ranges.
TEST(FitAndSubtractionInParts, EqualTheWholeBitForBit) {
  std::mt19937_64 rng(8);
  auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (FitType type : ALL_FIT_TYPES) {
    for (int trial = 0; trial < 6; ++trial) {
      const Window frame{0, 0, static_cast<int16_t>(draw(40, 300)),
                         static_cast<int16_t>(draw(40, 200))};
      const Window w{static_cast<int16_t>(draw(0, 20)), static_cast<int16_t>(draw(0, 20)),
                     static_cast<int16_t>(frame.width - 20),
                     static_cast<int16_t>(frame.height - 20)};
      TestMap t(w);
      fill_random(t, rng, -3000000, 3000000, 0.1);
      SurfaceWorkspace whole_ws;
      SurfaceFit whole{};
      ASSERT_EQ(fit_surface(map_view(t.map), frame, type, FitOptions{}, whole_ws, &whole),
                NO_ERROR);

      const int32_t parts = draw(1, 9);
      std::vector<int32_t> cuts = {0, w.height};
      for (int i = 1; i < parts; ++i) cuts.push_back(draw(0, w.height));
      std::sort(cuts.begin(), cuts.end());
      std::vector<int32_t> order(cuts.size() - 1);
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
      std::shuffle(order.begin(), order.end(), rng);
      SurfaceWorkspace ws;
      FitParts plan{};
      SurfaceFit in_parts{};
      ASSERT_EQ(
          fit_parts_begin(map_view(t.map), frame, type, FitOptions{}, parts, ws, &plan, &in_parts),
          NO_ERROR);
      for (int32_t i : order) {
        fit_parts_gather(plan, i % parts, cuts[static_cast<std::size_t>(i)],
                         cuts[static_cast<std::size_t>(i) + 1] - cuts[static_cast<std::size_t>(i)]);
      }
      ASSERT_EQ(fit_parts_finish(plan, &in_parts), NO_ERROR);
      EXPECT_EQ(std::memcmp(&in_parts, &whole, sizeof whole), 0) << type << " trial " << trial;

      // The same rows gathered from copies of each piece alone.
      SurfaceWorkspace copies_ws;
      FitParts copies{};
      SurfaceFit from_copies{};
      ASSERT_EQ(fit_parts_begin(map_view(t.map), frame, type, FitOptions{}, parts, copies_ws,
                                &copies, &from_copies),
                NO_ERROR);
      for (int32_t i : order) {
        const auto at = static_cast<std::size_t>(i);
        const int32_t first = cuts[at];
        const int32_t rows = cuts[at + 1] - first;
        const auto begin = t.values().begin() + std::ptrdiff_t(first) * w.width;
        const std::vector<int32_t> piece(begin, begin + std::ptrdiff_t(rows) * w.width);
        const Window part{w.x, static_cast<int16_t>(w.y + first), w.width,
                          static_cast<int16_t>(rows)};
        fit_parts_gather_rows(copies, i % parts, first, ConstPhaseView{piece.data(), w.width, part});
      }
      ASSERT_EQ(fit_parts_finish(copies, &from_copies), NO_ERROR);
      EXPECT_EQ(std::memcmp(&from_copies, &whole, sizeof whole), 0) << type << " trial " << trial;
      surface_workspace_free(copies_ws);

      TestMap whole_map(t);
      ASSERT_EQ(remove_surface(map_view(whole_map.map), frame, whole, whole_ws), NO_ERROR);
      SubtractionPlan sub{};
      ASSERT_EQ(subtraction_begin(map_view(t.map), frame, whole, parts, ws, &sub), NO_ERROR);
      for (int32_t i : order) {
        const auto at = static_cast<std::size_t>(i);
        subtract_rows(sub, i % parts, cuts[at], cuts[at + 1] - cuts[at]);
      }
      EXPECT_EQ(t.values(), whole_map.values()) << type << " trial " << trial;
      surface_workspace_free(ws);
      surface_workspace_free(whole_ws);
    }
  }
}

}  // namespace

}  // namespace harnix
