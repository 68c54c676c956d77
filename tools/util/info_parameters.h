// The height parameters harnix-util info shows for a file: computed over the valid points of its
// levelled map (levelling.h, height_parameters.h), as text lines and as the JSON "parameters"
// object. Lengths are in metres in JSON and in nm or um, chosen by size, in the text.
#ifndef HARNIX_TOOLS_UTIL_INFO_PARAMETERS_H_
#define HARNIX_TOOLS_UTIL_INFO_PARAMETERS_H_

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "surface/levelling.h"
#include "util/info_report.h"

namespace harnix {

// Levels the file's map and computes the parameters into facts (its file, scale and stats set).
// Without a phase map, valid points or a height scale the parameters stay unknown, which is no
// failure with LEVEL_NONE. Returns false with *message set (to follow the quoted file name) when
// another levelling cannot be made. Throws std::bad_alloc when memory runs out.
bool compute_parameters(Levelling level, FileFacts* facts, std::string* message);

// The text lines of the parameters (levelling, points, Sq ... Sku).
void print_parameters_text(const FileFacts& facts, std::FILE* out);

// {"levelling", "points", "unit": "m", "Sq", "Sa", "Sp", "Sv", "Sz", "Ssk", "Sku"}, Ssk and Sku
// null when undefined; null when the parameters are unknown.
nlohmann::json parameters_json(const FileFacts& facts);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_INFO_PARAMETERS_H_
