// The spooler's two-call size pattern, written once.
#pragma once

#include <cstddef>

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

// A zero-filled fixed block from the global heap, owned by the returned
// object. Invalid when the allocation failed.
UniqueGlobal AllocZeroed(WinApi& api, std::size_t bytes);

// Makes `call(buffer, size, &needed)` first without a buffer, which must fail
// with ERROR_INSUFFICIENT_BUFFER and tell the size, then with a zero-filled
// block of that size. Returns the block as the second call filled it, with
// `needed` its size; invalid when a step failed or the size is below
// `minimumSize`.
template <typename Call>
UniqueGlobal CallWithSizedBlock(WinApi& api, DWORD& needed, DWORD minimumSize, Call call) {
  needed = 0;
  if (call(nullptr, 0, &needed) || api.GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      needed < minimumSize) {
    return UniqueGlobal(api);
  }
  UniqueGlobal block = AllocZeroed(api, needed);
  if (block && !call(static_cast<LPBYTE>(block.get()), needed, &needed)) {
    block.reset();
  }
  return block;
}

}  // namespace tolvo
