#include "averaging/settings.h"

namespace harnix {

const char* sdev_remove_label(RemovalMode mode) {
  switch (mode) {
    case RemovalMode::PISTON:
      return "Piston";
    case RemovalMode::PLANE:
      return "Plane";
    case RemovalMode::SPHERE:
      return "Sphere";
    case RemovalMode::CYLINDER:
      return "Cylinder";
    case RemovalMode::ROBUST:
      return "Robust";
    case RemovalMode::NONE:
      break;
  }
  return "None";
}

const char* level_label(LevelMode mode) {
  switch (mode) {
    case LevelMode::PISTON:
      return "Piston";
    case LevelMode::PLANE:
      return "Plane";
    case LevelMode::NONE:
      break;
  }
  return "None";
}

}  // namespace harnix
