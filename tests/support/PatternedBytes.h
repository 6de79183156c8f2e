// Bytes that look random and do not compress, the same for the same seed:
// file contents that stored volumes keep as they are and that a test can
// compare after extraction.
//
//   const std::string data = patterned(256 << 10, 1);
//   writeRar5(dir / "big.rar", {StoredEntry::file("big.bin", data)});
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tovani::testing {

inline std::string patterned(std::size_t size, unsigned seed = 0) {
    std::string data(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return data;
}

}  // namespace tovani::testing
