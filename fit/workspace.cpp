#include "fit/workspace.h"

#include "base/allocation.h"

namespace harnix {

ErrorCode surface_workspace_reserve(SurfaceWorkspace& ws, std::size_t bytes) {
  if (bytes <= ws.bytes) return NO_ERROR;
  surface_workspace_free(ws);
  ws.storage = mem_allocate(bytes);
  if (ws.storage == nullptr) return ERR_NO_MEM;
  ws.bytes = bytes;
  return NO_ERROR;
}

void surface_workspace_free(SurfaceWorkspace& ws) {
  mem_release(ws.storage);
  ws.storage = nullptr;
  ws.bytes = 0;
}

}  // namespace harnix
