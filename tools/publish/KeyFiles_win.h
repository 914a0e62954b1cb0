#pragma once
// The access list a secret key file is created with on Windows.
#include "base/Win32_win.h"

#include <memory>
#include <vector>

namespace orvex {

struct TLocalFree {
    void operator()(void* memory) const { ::LocalFree(memory); }
};
template <class T>
using TLocalMemory = std::unique_ptr<T, TLocalFree>;

// The TOKEN_USER of the running process; empty when it cannot be read.
std::vector<BYTE> CurrentUser();

// "D:P(A;;FA;;;<user>)": full access for the user running us and nobody else, nothing inherited from
// the folder. Null, with the system's error, when the user cannot be told.
TLocalMemory<void> OwnerOnlyDescriptor();

}  // namespace orvex
