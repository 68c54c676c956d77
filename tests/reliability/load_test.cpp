// The largest run the command line accepts: 10000 inputs, each read, accumulated and released
// in turn. The three results are compared with an independent per-pixel computation, and every
// pixel's count with the number of inputs valid there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reference/reference_average.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

constexpr int INPUTS = 10000;

TEST_F(RunDirectory, TenThousandInputsAreAllCounted) {
  ASSERT_EQ(0, util({"synth", "--out", "set", "--count", std::to_string(INPUTS), "--width", "8",
                     "--height", "8", "--seed", "99", "--windows", "--mixed", "--invalid", "8"})
                   .status);
  const ProgramResult r = harnix({"-MinValidPct", "50", "-AvgOut", "a.dat", "-SdevOut", "s.dat",
                                  "-CountOut", "c.dat", "@set/list.txt"});
  ASSERT_EQ(0, r.status) << r.err;

  std::vector<MeasurementFile> inputs;
  std::vector<int32_t> valid(64, 0);  // per camera pixel, row-major
  const std::string list = read_file_bytes(path("set/list.txt"));
  for (std::size_t start = 0, end; (end = list.find('\n', start)) != std::string::npos;
       start = end + 1) {
    MeasurementFile f;
    ASSERT_TRUE(decode_test_file(read_file_bytes(path(list.substr(start, end - start))), &f));
    for (int row = 0; row < f.height; ++row)
      for (int col = 0; col < f.width; ++col)
        if (f.values[std::size_t(row * f.width + col)] != TEST_PHASE_INVALID)
          ++valid[std::size_t((f.y + row) * 8 + f.x + col)];
    inputs.push_back(std::move(f));
  }
  ASSERT_EQ(std::size_t(INPUTS), inputs.size());

  const MeasurementFile count = read_output("c.dat");
  EXPECT_EQ("Input count map computed from 10000 input data files", count.comment);
  for (int row = 0; row < count.height; ++row)
    for (int col = 0; col < count.width; ++col)
      EXPECT_EQ(valid[std::size_t((count.y + row) * 8 + count.x + col)],
                count.values[std::size_t(row * count.width + col)])
          << "pixel " << count.x + col << ", " << count.y + row;

  const ReferenceResults expected = reference_average(inputs, -1, 5000);
  for (const auto& [name, map] :
       {std::pair{"a.dat", &expected.average}, std::pair{"s.dat", &expected.deviation},
        std::pair{"c.dat", &expected.count}}) {
    const MeasurementFile out = read_output(name);
    EXPECT_EQ(map->x, out.x) << name;
    EXPECT_EQ(map->y, out.y) << name;
    EXPECT_EQ(map->width, out.width) << name;
    EXPECT_EQ(map->height, out.height) << name;
    EXPECT_EQ(map->values, out.values) << name;
  }
}

}  // namespace

}  // namespace harnix
