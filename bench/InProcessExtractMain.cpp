// ostrel-extract-inprocess: ostrel-extract with the UnRAR library in the
// tool's own process instead of the confined decoder, for bench/run.sh to
// compare the two. Options, messages and exit statuses are ostrel-extract's.
#include <memory>

#include "CommandLine/ToolMain.h"
#include "InProcessRarEngine.h"

int main(int argc, char** argv) {
    return tovani::ToolMain::run(argc, argv, std::make_shared<const tovani::InProcessRarEngine>());
}
