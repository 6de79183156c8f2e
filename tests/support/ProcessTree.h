// ProcessTree answers which processes a process started and whether one is
// gone for good, so that a test can assert that no helper process outlives
// the job that started it (neither running on as an orphan nor left unreaped).
//
//   std::vector<pid_t> decoders = childrenOf(::getpid());
//   ... cancel the job ...
//   for (pid_t decoder : decoders) EXPECT_TRUE(isGone(decoder));
#pragma once

#include <sys/types.h>

#include <vector>

namespace tovani::testing {

// The live and unreaped children of pid, whichever of its threads started them.
std::vector<pid_t> childrenOf(pid_t pid);

// True when no process, not even a zombie, has the number pid any more.
bool isGone(pid_t pid);

}  // namespace tovani::testing
