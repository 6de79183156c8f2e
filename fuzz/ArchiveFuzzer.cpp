// Mutated RAR archives through the real engine and extractor (see
// ExtractionFuzzing.h for what is checked after every input).
#include <memory>

#include "ExtractionFuzzing.h"
#include "TovaniCore/RarEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::extractChecked(std::make_shared<tovani::RarEngine>(), "fuzz.rar", data, size);
}
