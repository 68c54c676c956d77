// The progress line: silent for the first second, then rewritten in place, erased at the end.
#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace harnix {

namespace {

double fake_now = 0.0;
double fake_clock() {
  return fake_now;
}

std::string written(std::FILE* f) {
  std::fflush(f);
  std::string text(std::size_t(std::ftell(f)), '\0');
  std::rewind(f);
  text.resize(std::fread(text.data(), 1, text.size(), f));
  std::fseek(f, 0, SEEK_END);
  return text;
}

TEST(ProgressLine, ShowsAfterASecondAndErasesItself) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(nullptr, f);
  fake_now = 100.0;
  ProgressLine line(f, fake_clock);
  RunSettings settings;
  settings.Reject = 3;
  settings.RejectIter = 2;  // three passes at most
  line.run_started(settings);
  line.pass_started(1);
  fake_now = 100.5;
  line.input_passed(1, 1, 4);
  EXPECT_EQ("", written(f)) << "a short run shows nothing";
  fake_now = 102.0;
  line.input_passed(1, 2, 4);  // 2 inputs in 2 s; 10 left
  EXPECT_EQ("\rpass 1, input 2 of 4, 1.0 inputs/s, 0:10 left\033[K", written(f));
  fake_now = 102.1;
  line.input_passed(1, 3, 4);
  EXPECT_EQ(std::string::npos, written(f).find("input 3")) << "at most five updates a second";
  line.finish();
  EXPECT_TRUE(written(f).ends_with("\r\033[K"));
  std::fclose(f);
}

}  // namespace

}  // namespace harnix
