#include "averaging/input_sums.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "averaging/levelling.h"
#include "fit/remove.h"
#include "support/failing_allocator.h"
#include "support/test_maps.h"

namespace harnix {

namespace {

// Noisy tilted inputs over the whole of a 60 x 40 camera, the robust plane removed from each.
class RobustBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    working_maps_init(maps_);
    ASSERT_EQ(NO_ERROR, working_maps_create(maps_, 60, 40, SumsLayout{true, true}, team_));
    std::mt19937 rng(4);
    for (auto& input : inputs_) {
      for (int r = 0; r < 40; ++r)
        for (int c = 0; c < 60; ++c) input.cell(c, r) = 3 * c - r + int(rng() % 41);
    }
    batch_.capacity = 4;
  }
  void TearDown() override {
    input_batch_free(batch_);
    working_maps_free(maps_);
  }
  void queue_all() {
    for (auto& input : inputs_)
      ASSERT_EQ(NO_ERROR, queue_input(maps_, batch_, input.m, 1.0, RemovalMode::ROBUST, team_));
  }

  BandTeam team_{2};
  WorkingMaps maps_;
  InputBatch batch_;
  OwnedPhase inputs_[3] = {OwnedPhase(Window{0, 0, 60, 40}), OwnedPhase(Window{0, 0, 60, 40}),
                           OwnedPhase(Window{0, 0, 60, 40})};
};

// The planes of a batch are fitted side by side, yet a lack of memory is that of the first
// input in input order, whichever thread met it first.
TEST_F(RobustBatch, AFailureIsThatOfTheFirstInputThatFails) {
  queue_all();
  ASSERT_EQ(3, batch_.count);
  {
    FailingAllocator refusing(1);
    EXPECT_EQ(ERR_NO_MEM, add_batch(maps_, batch_, RemovalMode::ROBUST, team_));
  }
  EXPECT_EQ(0, batch_.failed);
  EXPECT_EQ(0, batch_.count);
}

// Side by side or one after the other, every input loses the plane it loses alone.
TEST_F(RobustBatch, InputsFittedTogetherLoseTheirOwnPlanes) {
  std::vector<std::vector<int32_t>> alone;
  for (auto& input : inputs_) {
    OwnedPhase copy(input.m.window, input.values());
    SurfaceWorkspace ws;
    ASSERT_EQ(NO_ERROR, remove_best_fit_in_frame(copy.m, maps_.camera, ROBUST_PLANE, nullptr, ws));
    surface_workspace_free(ws);
    alone.push_back(copy.values());
  }
  queue_all();
  ASSERT_EQ(NO_ERROR, add_batch(maps_, batch_, RemovalMode::ROBUST, team_));
  for (int k = 0; k < 3; ++k) EXPECT_EQ(alone[k], inputs_[k].values()) << k;
}

// Levelled inputs, two at a time: those whose values all round within the phase range share the
// average's count with the deviation, until one (the fourth) has values beyond it. The sums
// and both counts are those of a run that gives the deviation its own count from the start.
TEST(LevelledSums, InputsWithinThePhaseRangeShareTheAveragesCount) {
  constexpr int16_t W = 37, H = 23;
  std::mt19937 rng(9);
  std::deque<OwnedPhase> inputs;
  std::vector<InputLevel> levels;
  for (int k = 0; k < 6; ++k) {
    OwnedPhase& input = inputs.emplace_back(Window{int16_t(k % 3), 0, int16_t(W - 3), H});
    const int32_t offset = k == 3 ? 67000000 : 1000 * k;  // the fourth: beyond 2^26 once levelled
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W - 3; ++c)
        input.cell(c, r) = rng() % 13 == 0 ? PHASE_INVALID : offset + int32_t(rng() % 400001);
    levels.push_back(InputLevel{-250.25 * k, 0.75, -1.5, W / 2, H / 2, 0, 0, true, true, false});
  }
  auto run = [&](bool ranges_known) {
    BandTeam team(2);
    WorkingMaps maps;
    working_maps_init(maps);
    EXPECT_EQ(NO_ERROR, working_maps_create(maps, W, H, SumsLayout{true}, team));
    InputBatch batch;
    batch.capacity = 2;
    std::vector<InputLevel> own = levels;
    std::deque<OwnedPhase> copies;
    for (int k = 0; k < 6; ++k) copies.emplace_back(inputs[k].m.window, inputs[k].values());
    for (int k = 0; k < 6; ++k) {
      ValueRange range;
      for (int32_t v : inputs[k].values())
        if (v < PHASE_INVALID) range = ValueRange{std::min(range.low, v), std::max(range.high, v)};
      own[k].in_range = ranges_known && level_in_range(own[k], 1.0, range, maps.camera);
      EXPECT_EQ(ranges_known && k != 3, own[k].in_range) << k;
      EXPECT_EQ(NO_ERROR, queue_input(maps, batch, copies[k].m, 1.0, RemovalMode::NONE, team,
                                      &own[k]));
    }
    EXPECT_EQ(NO_ERROR, add_batch(maps, batch, RemovalMode::NONE, team));
    const std::size_t n = std::size_t(W) * H;
    auto bytes = [n](const auto* p) {
      return std::string(reinterpret_cast<const char*>(p), n * sizeof(*p));
    };
    const std::string all = bytes(maps.sum_avg.matrix) + bytes(maps.count_avg.matrix) +
                            bytes(deviation_sum(maps).matrix) +
                            bytes(deviation_count(maps).matrix) + bytes(maps.sum_sq.matrix);
    input_batch_free(batch);
    working_maps_free(maps);
    return all;
  };
  EXPECT_TRUE(run(true) == run(false));
}

// A level within the bound keeps every value in the range; a wider range, a steeper level or a
// scaled input may not; an input without valid values never does.
TEST(LevelledSums, LevelInRangeBoundsTheMagnitudeOfEveryLevelledValue) {
  const Window camera{0, 0, 100, 50};
  const InputLevel flat{1.0, 0.0, 0.0, 50, 25, 0, 0, true, true, false};
  const InputLevel tilted{1.0, 2.0, -1.0, 50, 25, 0, 0, true, true, false};
  EXPECT_TRUE(level_in_range(flat, 1.0, ValueRange{-67108861, 67108861}, camera));
  EXPECT_FALSE(level_in_range(flat, 1.0, ValueRange{-67108862, 0}, camera));
  EXPECT_TRUE(level_in_range(tilted, 1.0, ValueRange{-1000, 67108611}, camera));
  EXPECT_FALSE(level_in_range(tilted, 1.0, ValueRange{-1000, 67108612}, camera));
  EXPECT_FALSE(level_in_range(flat, 2.0, ValueRange{0, 40000000}, camera));
  EXPECT_TRUE(level_in_range(flat, 1.5, ValueRange{0, 40000000}, camera));
  EXPECT_FALSE(level_in_range(flat, 1.0, ValueRange{}, camera));
}

}  // namespace

}  // namespace harnix
