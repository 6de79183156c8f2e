/* tovani_bridge is the flat procedural layer over the UnRAR library: one
 * opaque handle per open archive, a flat entry record with UTF-8 strings and
 * Unix-epoch times, a data callback, and one status enumeration. No
 * exception ever crosses it; the library never writes a file through it.
 *
 *   tovani_archive* a = NULL;
 *   tovani_archive_info info;
 *   if (tovani_open("/tmp/a.rar", false, NULL, &a, &info) == TOVANI_OK) {
 *       tovani_entry e;
 *       while (tovani_read_entry(a, &e) == TOVANI_OK) {
 *           puts(e.name_utf8);
 *           if (tovani_skip_entry(a) != TOVANI_OK) break;
 *       }
 *       tovani_close(a);
 *   }
 */
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define TOVANI_NOEXCEPT noexcept
/* C++ fixes the enumerations' type; C17 has no syntax for it, and their int
 * has the same size for these values. */
#define TOVANI_ENUM_BASE : uint32_t
extern "C" {
#else
#define TOVANI_NOEXCEPT
#define TOVANI_ENUM_BASE
#endif

typedef enum tovani_status TOVANI_ENUM_BASE {
    TOVANI_OK = 0,
    TOVANI_END_OF_ARCHIVE = 1,
    TOVANI_CANNOT_OPEN = 2,
    TOVANI_NOT_AN_ARCHIVE = 3,
    TOVANI_PASSWORD_REQUIRED = 4,
    TOVANI_WRONG_PASSWORD = 5,
    TOVANI_DAMAGED = 6,
    TOVANI_VOLUME_MISSING = 7,
    TOVANI_CANCELLED = 8,
    TOVANI_OUT_OF_MEMORY = 9,
    TOVANI_UNSUPPORTED_FORMAT = 10,
    TOVANI_ENGINE_FAILURE = 11,
    /* The current entry's name (or link target) fills the library's name
     * field and may have been cut: tovani_skip_entry and
     * tovani_extract_entry refuse it, so that the caller holds the name as
     * delivered when it reports the failure. */
    TOVANI_NAME_TOO_LONG = 12,
} tovani_status;

typedef enum tovani_link_type TOVANI_ENUM_BASE {
    TOVANI_LINK_NONE = 0,
    TOVANI_LINK_SYMBOLIC = 1,
    TOVANI_LINK_HARD = 2,
    TOVANI_LINK_COPY = 3,
} tovani_link_type;

typedef struct tovani_archive_info {
    bool is_volume;
    bool is_first_volume;
    bool is_solid;
    bool has_encrypted_headers;
} tovani_archive_info;

/* The two text pointers stay valid until the next tovani_read_entry on the
 * same handle or tovani_close. */
typedef struct tovani_entry {
    const char* name_utf8;
    const char* target_utf8;
    uint64_t unpacked_size;
    uint64_t packed_size;
    /* Since 1970 (negative before); nanoseconds below 1,000,000,000. */
    int64_t mtime_seconds;
    uint32_t mtime_nanoseconds;
    /* Bytes; 0 for a folder. */
    uint64_t dictionary_size;
    uint32_t attributes;
    tovani_link_type link_type;
    bool has_mtime;
    bool has_unix_mode;
    bool is_directory;
    bool is_encrypted;
} tovani_entry;

/* Receives each decompressed chunk (data may be null: no data); returns
 * false to stop the extraction of the entry. */
typedef bool (*tovani_data_callback)(const uint8_t* data, size_t size, void* context);

/* Asked before the library moves on to a further volume (its path, UTF-8);
 * false refuses that volume and stops the library. */
typedef bool (*tovani_volume_filter)(const char* path_utf8, void* context);

typedef struct tovani_archive tovani_archive;

tovani_status tovani_open(const char* path, bool for_extraction, const char* password,
                          tovani_archive** out_handle,
                          tovani_archive_info* out_info) TOVANI_NOEXCEPT;
/* TOVANI_END_OF_ARCHIVE only when the last volume reached ends with its
 * end-of-archive record; one that stops before it (a file cut short, even
 * exactly between two entries) gives TOVANI_DAMAGED. */
tovani_status tovani_read_entry(tovani_archive* handle, tovani_entry* out_entry) TOVANI_NOEXCEPT;
tovani_status tovani_skip_entry(tovani_archive* handle) TOVANI_NOEXCEPT;
tovani_status tovani_extract_entry(tovani_archive* handle, tovani_data_callback callback,
                                   void* context) TOVANI_NOEXCEPT;
const char* tovani_missing_volume(tovani_archive* handle) TOVANI_NOEXCEPT;
void tovani_set_volume_filter(tovani_archive* handle, tovani_volume_filter filter,
                              void* context) TOVANI_NOEXCEPT;
size_t tovani_next_volume_count(tovani_archive* handle) TOVANI_NOEXCEPT;
const char* tovani_next_volume_path(tovani_archive* handle, size_t index) TOVANI_NOEXCEPT;
void tovani_close(tovani_archive* handle) TOVANI_NOEXCEPT;

#ifdef __cplusplus
}
#endif
