// ToolMain is the whole of ostrel-extract's main(): it reads the options,
// makes Ctrl-C, a closed terminal and SIGTERM cancel the run (which removes
// its workspace), extracts each archive and returns the exit status a shell
// expects. It takes the engine, so that a benchmark build can run the same
// tool over another one.
//
//   int main(int argc, char** argv) {
//       auto engine = std::make_shared<const tovani::AnyArchiveEngine>();
//       return tovani::ToolMain::run(argc, argv, engine);
//   }
#pragma once

#include <memory>

#include "TovaniCore/ArchiveEngine.h"

namespace tovani::ToolMain {

// 0 when every archive was extracted, 1 when one failed, 2 for bad options,
// 128 plus the signal's number when a signal stopped the run.
int run(int argc, char** argv, std::shared_ptr<const ArchiveEngine> engine);

}  // namespace tovani::ToolMain
