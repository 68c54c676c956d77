// The option words: one entry per value, found in any case, labels as the record spells them.
#include "averaging/option_words.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "datafile/attributes.h"

namespace harnix {

namespace {

// Every word is lower case, unique and found again in upper case; every label is its word
// capitalised, and labels the value it stands for.
template <typename Value, std::size_t N>
void expect_sound(const OptionWord<Value> (&words)[N]) {
  std::set<std::string> seen;
  for (const OptionWord<Value>& w : words) {
    std::string upper = w.word, label = w.word;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    label[0] = upper[0];
    EXPECT_TRUE(seen.insert(w.word).second) << w.word;
    EXPECT_EQ(find_option_word(upper, words), &w) << w.word;
    EXPECT_EQ(find_option_word(w.label, words), &w) << w.word;
    EXPECT_STREQ(w.label, label.c_str());
    EXPECT_STREQ(option_label(w.value, words), w.label);
  }
}

TEST(OptionWords, EveryTableIsSound) {
  expect_sound(REMOVAL_WORDS);
  expect_sound(PHASE_RES_WORDS);
  expect_sound(LEVEL_WORDS);
  expect_sound(COMBINE_WORDS);
  expect_sound(DEVIATION_TYPE_WORDS);
  expect_sound(ALIGN_WORDS);
}

TEST(OptionWords, LabelsAgreeWithTheirOtherSpellings) {
  for (const auto& w : PHASE_RES_WORDS) EXPECT_STREQ(phase_res_label(w.value), w.label);
  for (const auto& w : REMOVAL_WORDS) EXPECT_STREQ(sdev_remove_label(w.value), w.label);
  for (const auto& w : LEVEL_WORDS) EXPECT_STREQ(level_label(w.value), w.label);
}

TEST(OptionWords, OnlyWholeWordsMatch) {
  for (const char* text : {"", "plan", "planes", "plane ", " plane", "pl\xc3\xa1ne", "PLANE\n"})
    EXPECT_EQ(find_option_word(text, REMOVAL_WORDS), nullptr) << text;
  EXPECT_EQ(find_option_word("pLaNe", REMOVAL_WORDS)->value, RemovalMode::PLANE);
}

}  // namespace

}  // namespace harnix
