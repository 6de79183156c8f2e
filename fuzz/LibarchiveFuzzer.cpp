// Mutated zip, 7z, tar and compressed files through the libarchive engine,
// its backend in the confined decoder, and the extractor (see
// ExtractionFuzzing.h for what is checked after every input). The name ends
// in a compression suffix so that a raw compressed file is named too.
#include <memory>

#include "ExtractionFuzzing.h"
#include "TovaniCore/LibarchiveEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::extractChecked(std::make_shared<tovani::LibarchiveEngine>(), "fuzz.gz", data,
                                   size);
}
