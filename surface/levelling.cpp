// r = v - s(column, row) per valid point, s the fitted surface in double precision; see the top
// of levelling.h for the fits and the rounding floor.
#include "surface/levelling.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "fit/least_squares.h"
#include "fit/remove.h"
#include "fit/robust_plane.h"
#include "fit/surface_value.h"
#include "maps/map_view.h"

namespace harnix {

namespace {

constexpr const char* NAMES[] = {"none", "piston", "plane", "sphere", "cylinder", "robust"};

// Why a fit of the map could not be made, in the operator's words.
std::string fit_failure_text(ErrorCode code) {
  switch (code) {
    case ERR_NO_UNIQUE_SOLUTION:
      return "its valid points do not determine the surface (too few, or all in one line)";
    case ERR_ALL_BAD_DATA:
      return "its slopes give no robust plane (too few valid points in a row or column, or no "
             "spread of slopes)";
    case ERR_IMPROPER_WINDOW:
      return "its map has no pixels";
    case ERR_NO_MEM:
      return "not enough memory for the fit";
    default:
      return "the fit failed (error " + std::to_string(static_cast<int>(code)) + ")";
  }
}

}  // namespace

bool parse_levelling(const char* text, Levelling* level) {
  for (int i = LEVEL_NONE; i <= LEVEL_ROBUST; ++i)
    if (std::strcmp(text, NAMES[i]) == 0) {
      *level = static_cast<Levelling>(i);
      return true;
    }
  return false;
}

const char* levelling_name(Levelling level) {
  return NAMES[level];
}

bool level_map(const PhaseMap& map, Levelling level, std::vector<double>* values,
               std::string* message) {
  values->clear();
  SurfaceFit fit{};
  if (level != LEVEL_NONE) {
    // The map's own window as a region makes a map of zero width or height fail as an improper
    // window.
    ErrorCode rc = NO_ERROR;
    if (level == LEVEL_ROBUST) {
      rc = fit_robust_plane(map, &map.window, &fit, ROBUST_PLANE_BINS);
    } else {
      ConstPhaseView view{};
      SurfaceWorkspace ws;
      rc = region_view(map, map.window, &view);
      if (rc == NO_ERROR) {
        rc = fit_surface(view, map.window, static_cast<FitType>(level - LEVEL_PISTON), FitOptions{},
                         ws, &fit);
      }
      surface_workspace_free(ws);
    }
    if (rc != NO_ERROR) {
      *message = std::string("cannot be levelled by ") + levelling_name(level) + ": " +
                 fit_failure_text(rc);
      return false;
    }
  }
  const Window& w = map.window;
  const std::size_t width = static_cast<std::size_t>(w.width);
  const std::size_t n = width * static_cast<std::size_t>(w.height);
  double largest = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (phase_valid(map.matrix[i]))
      largest = std::max(largest, std::fabs(static_cast<double>(map.matrix[i])));
  const double floor = LEVEL_ROUNDING_RELATIVE * largest;
  values->resize(n);
  const double invalid = std::numeric_limits<double>::quiet_NaN();
  for (int r = 0; r < w.height; ++r) {
    const int32_t* in = map.matrix + static_cast<std::size_t>(r) * width;
    double* out = values->data() + static_cast<std::size_t>(r) * width;
    for (std::size_t c = 0; c < width; ++c) {
      if (!phase_valid(in[c])) {
        out[c] = invalid;
        continue;
      }
      if (level == LEVEL_NONE) {
        out[c] = in[c];
        continue;
      }
      const double residual = in[c] - surface_value(fit, w.x + static_cast<int32_t>(c), w.y + r);
      out[c] = std::fabs(residual) <= floor ? 0.0 : residual;
    }
  }
  return true;
}

}  // namespace harnix
