#include "averaging/input_sums.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

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

}  // namespace

}  // namespace harnix
