// The tool may use the archive library's public API, not its internals.
#include "TovaniCore/Extractor.h"
#include "TovaniCore/StagingWriter.h"
