// The words of the enumerated options: the values the command line takes (-SdevRemove Plane)
// and the module's keyword arguments (remove="plane"), in any case, each beside the setting it
// stands for and its label, the spelling the record, the verbose report and the equivalent
// command show. Every table lists its setting's values in the order of their codes.
#ifndef HARNIX_AVERAGING_OPTION_WORDS_H_
#define HARNIX_AVERAGING_OPTION_WORDS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "averaging/settings.h"

namespace harnix {

template <typename Value>
struct OptionWord {
  const char* word;   // lower case, compared whole
  Value value;
  const char* label;  // the word capitalised
};

// -SdevRemove.
inline constexpr OptionWord<RemovalMode> REMOVAL_WORDS[] = {
    {"none", RemovalMode::NONE, "None"},          {"piston", RemovalMode::PISTON, "Piston"},
    {"plane", RemovalMode::PLANE, "Plane"},       {"sphere", RemovalMode::SPHERE, "Sphere"},
    {"cylinder", RemovalMode::CYLINDER, "Cylinder"}, {"robust", RemovalMode::ROBUST, "Robust"},
};

// -PhaseRes: the resolution codes of the data files (datafile/attributes.h's labels).
inline constexpr OptionWord<int32_t> PHASE_RES_WORDS[] = {
    {"normal", 0, "Normal"}, {"high", 1, "High"}, {"super", 2, "Super"},
};

// -Level.
inline constexpr OptionWord<LevelMode> LEVEL_WORDS[] = {
    {"none", LevelMode::NONE, "None"},
    {"piston", LevelMode::PISTON, "Piston"},
    {"plane", LevelMode::PLANE, "Plane"},
};

// -Combine.
inline constexpr OptionWord<CombineMode> COMBINE_WORDS[] = {
    {"mean", CombineMode::MEAN, "Mean"},
    {"median", CombineMode::MEDIAN, "Median"},
};

// -SdevType.
inline constexpr OptionWord<DeviationType> DEVIATION_TYPE_WORDS[] = {
    {"population", DeviationType::POPULATION, "Population"},
    {"sample", DeviationType::SAMPLE, "Sample"},
};

// -Align.
inline constexpr OptionWord<AlignMode> ALIGN_WORDS[] = {
    {"none", AlignMode::NONE, "None"},
    {"shift", AlignMode::SHIFT, "Shift"},
};

// Whether `text` is `word` (lower case) in any case of its ASCII letters; no locale takes part.
constexpr bool is_option_word(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != word[i]) return false;
  }
  return true;
}

// The entry of `words` whose word `text` is in any case; nullptr when none is.
template <typename Value, std::size_t N>
constexpr const OptionWord<Value>* find_option_word(std::string_view text,
                                                    const OptionWord<Value> (&words)[N]) {
  for (const OptionWord<Value>& w : words)
    if (is_option_word(text, w.word)) return &w;
  return nullptr;
}

// The label of `value` in `words`; the first entry's when no entry holds `value`.
template <typename Value, std::size_t N>
constexpr const char* option_label(Value value, const OptionWord<Value> (&words)[N]) {
  for (const OptionWord<Value>& w : words)
    if (w.value == value) return w.label;
  return words[0].label;
}

}  // namespace harnix

#endif  // HARNIX_AVERAGING_OPTION_WORDS_H_
