#pragma once

#include <cstddef>
#include <functional>

// Compiling on a thread with a stack large enough for the interpreter's recursive-descent parser
// and compiler at the deepest nesting the source checks admit.
namespace scriptrt {

// 256 MB of address space, reserved, not committed: only the pages a compilation touches are
// used. The deepest admitted text needs about 30 MB.
inline constexpr std::size_t kCompilerStackSize = std::size_t(256) << 20;

// Runs `work` on a thread of its own with a stack of kCompilerStackSize and waits for it; an
// exception thrown by `work` is rethrown here. False, with nothing run, when no such thread
// can be started.
bool runOnCompilerStack(const std::function<void()> &work);

} // namespace scriptrt
