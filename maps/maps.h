// Chief header of the maps library: windows, map records and views, allocation hooks, storage
// management and element operations.
#ifndef HARNIX_MAPS_MAPS_H_
#define HARNIX_MAPS_MAPS_H_

#include "base/allocation.h"
#include "maps/element_ops.h"
#include "maps/map_types.h"
#include "maps/map_view.h"
#include "maps/storage.h"
#include "maps/window.h"

namespace harnix {}  // namespace harnix

#endif  // HARNIX_MAPS_MAPS_H_
