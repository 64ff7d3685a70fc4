// The one seam through which the file utilities reach the operating system, so that tests can
// make any call fail (a full disk in the middle of a copy, a read error, a refused mkdir). Each
// half defines the class with its own calls: posix/syscalls.h, windows/syscalls.h.
#pragma once

namespace tarvelin {

class SysCalls;

// The real calls.
const SysCalls &RealSysCalls();

}  // namespace tarvelin
