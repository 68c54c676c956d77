#include "util/info_parameters.h"

#include <vector>

#include "export/number_text.h"
#include "util/colour_bar.h"

namespace harnix {

namespace {

constexpr int LABEL_WIDTH = 20;  // as the rest of the info text

void line(std::FILE* out, const char* label, const std::string& value) {
  std::fprintf(out, "%-*s = %s\n", LABEL_WIDTH, label, value.c_str());
}

// A length in nm below 1 um, else in um (plain ASCII, as the rest of the console text).
std::string length_text(double metres) {
  const DisplayUnit unit = height_unit(metres, metres);
  return general_text(metres * unit.per_value, 6) + (unit.per_value == 1e9 ? " nm" : " um");
}

}  // namespace

bool compute_parameters(Levelling level, FileFacts* f, std::string* message) {
  f->levelling = levelling_name(level);
  f->parameters_known = false;
  const PhaseMap& map = f->file->phase;
  if (map.matrix == nullptr) {
    if (level == LEVEL_NONE) return true;
    *message =
        std::string("cannot be levelled by ") + levelling_name(level) + ": it holds no phase map";
    return false;
  }
  if (level == LEVEL_NONE && f->stats.valid_points == 0) return true;
  std::vector<double> counts;
  if (!level_map(map, level, &counts, message)) return false;
  // Counts of inputs have no height to take parameters of.
  if (!f->scale.height_known || f->counted != nullptr) return true;
  f->parameters = height_parameters(counts, f->scale.metres_per_count);
  f->parameters_known = f->parameters.points > 0;
  return true;
}

void print_parameters_text(const FileFacts& f, std::FILE* out) {
  line(out, "Levelling", f.levelling);
  if (!f.parameters_known) {
    line(out, "Height parameters",
         f.stats.valid_points == 0 ? "unknown (no valid points)"
         : f.counted != nullptr    ? "none (a count map holds no heights)"
                                   : "unknown (no height scale)");
    return;
  }
  const HeightParameters& p = f.parameters;
  line(out, "Parameter points", std::to_string(p.points));
  line(out, "Sq", length_text(p.sq));
  line(out, "Sa", length_text(p.sa));
  line(out, "Sp", length_text(p.sp));
  line(out, "Sv", length_text(p.sv));
  line(out, "Sz", length_text(p.sz));
  const char* undefined = "undefined (fewer than 3 points, or Sq = 0)";
  line(out, "Ssk", p.shape_known ? general_text(p.ssk, 6) : undefined);
  line(out, "Sku", p.shape_known ? general_text(p.sku, 6) : undefined);
}

nlohmann::json parameters_json(const FileFacts& f) {
  if (!f.parameters_known) return nullptr;
  const HeightParameters& p = f.parameters;
  nlohmann::json j = {{"levelling", f.levelling},
                      {"points", p.points},
                      {"unit", "m"},
                      {"Sq", p.sq},
                      {"Sa", p.sa},
                      {"Sp", p.sp},
                      {"Sv", p.sv},
                      {"Sz", p.sz},
                      {"Ssk", nullptr},
                      {"Sku", nullptr}};
  if (p.shape_known) {
    j["Ssk"] = p.ssk;
    j["Sku"] = p.sku;
  }
  return j;
}

}  // namespace harnix
