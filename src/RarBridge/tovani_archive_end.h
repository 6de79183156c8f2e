// tovani_archive_end tells whether an archive file ends with its
// end-of-archive record, and which container format it uses. The UnRAR
// library reports a clean end of archive when a file stops exactly between
// two blocks, so a download cut off between two entries passes for a whole
// archive; the bridge walks the block chain of the last volume itself to
// tell the two apart. It also tells whether the archive has its main header.
//
//   if (tovani::FindEndRecord(lastVolume) == tovani::EndRecord::missing) {
//       return TOVANI_DAMAGED;
//   }
#pragma once

#include <cstdint>

namespace tovani {

enum class ArchiveFormat { unknown, rar4, rar5 };

enum class EndRecord {
    present,
    // The file ends (or a block runs past its end) before any
    // end-of-archive record.
    missing,
    // The chain cannot be walked: encrypted headers, a format before
    // RAR 1.5, no signature, an unreadable file.
    unknown,
};

// The format named by the signature at the very start of the file.
ArchiveFormat FormatOf(const char* path) noexcept;

// Walks the blocks from the signature (searched as far as the library does,
// for self-extractors) up to the first end-of-archive record. A RAR 1.5-4.x
// archive whose entries all come from the RAR 1.5-2.x era may lack the
// record: those tools did not always write one, so a clean end between two
// blocks counts as present there.
EndRecord FindEndRecord(const char* path) noexcept;

enum class MainHeader { present, missing, unknown };

// Whether the first block after the signature is the main header (in RAR 5
// also the encryption header that comes before it). The library opens a file
// that has none and finds it empty, where unrar reports the main header as
// corrupt. Unknown when the file has no signature or cannot be read.
MainHeader FindMainHeader(const char* path) noexcept;

}  // namespace tovani
