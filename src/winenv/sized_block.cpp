#include "winenv/sized_block.h"

#include <cstring>

namespace tolvo {

UniqueGlobal AllocZeroed(WinApi& api, std::size_t bytes) {
  UniqueGlobal block(api, api.GlobalAlloc(GMEM_FIXED, bytes));
  if (block) {
    std::memset(block.get(), 0, bytes);
  }
  return block;
}

}  // namespace tolvo
