// A copy made as a run makes each one: staged in the destination's folder, then claimed under the
// destination's name, never replacing what is there.
#pragma once

#include <string>

#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin::testing {

inline Status CopyAs(const std::string &source, const std::string &destination,
                     const SysCalls &sys = RealSysCalls(), WorkHooks *hooks = nullptr) {
    StagedCopy copy;
    if (Status staged = StageCopy(source, FolderFromPath(destination), copy, sys, hooks); !staged) return staged;
    return copy.ClaimAs(destination);
}

}  // namespace tarvelin::testing
