# The headers of TovaniCore that make up its public API: what the app, its
# layers and the command-line tool may include, and the only types whose
# names libTovaniCore.so may export. Every other header of src/TovaniCore is
# internal to the library (and to its own tests).
set(tovani_core_public_headers
    ArchiveEngine.h
    ArchiveEntry.h
    ArchiveEntrySink.h
    ArchiveInfo.h
    ArchiveListing.h
    Cancellation.h
    Export.h
    ExtractionError.h
    ExtractionHandlers.h
    ExtractionOptions.h
    ExtractionProgress.h
    ExtractionResult.h
    Extractor.h
    LibarchiveEngine.h
    Overloaded.h
    PasswordRequest.h
    RarEngine.h
    SkippedEntry.h
    Timestamp.h
    VolumeResolver.h)
