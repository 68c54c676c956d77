// Working storage of the surface fits and subtractions, owned by their caller.
//
// A fit keeps per-row totals (40 bytes a row) and, for the sphere and cylinder, per-column
// totals (16 bytes a column) of the window it reads; a subtraction of a sphere or cylinder keeps
// per-column tables (up to 24 bytes a column). A caller keeps one workspace from call to call:
// it grows, through the allocation hooks, to the largest window met and is then reused, so
// neither the calls nor the stack hold tables sized for the largest possible window. One
// workspace serves one call at a time.
#ifndef HARNIX_FIT_WORKSPACE_H_
#define HARNIX_FIT_WORKSPACE_H_

#include <cstddef>

#include "base/error_codes.h"

namespace harnix {

struct SurfaceWorkspace {
  void* storage = nullptr;
  std::size_t bytes = 0;  // usable bytes at `storage`
};

// Makes the workspace hold at least `bytes`; nothing when it does already. The contents are not
// kept. ERR_NO_MEM when the storage cannot be had: the workspace then holds none (bytes 0).
ErrorCode surface_workspace_reserve(SurfaceWorkspace& ws, std::size_t bytes);

// Releases the storage; safe on an empty workspace and repeatedly.
void surface_workspace_free(SurfaceWorkspace& ws);

}  // namespace harnix

#endif  // HARNIX_FIT_WORKSPACE_H_
