// ostrel-extract: extracts archives from the command line, with the same
// pipeline and messages as the app.
#include <memory>

#include "CommandLine/ToolMain.h"
#include "TovaniCore/AnyArchiveEngine.h"

int main(int argc, char** argv) {
    return tovani::ToolMain::run(argc, argv, std::make_shared<const tovani::AnyArchiveEngine>());
}
