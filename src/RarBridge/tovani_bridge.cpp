// Placeholder until the bridge lands: every call fails.
#include "RarBridge/tovani_bridge.h"

extern "C" {
tovani_status tovani_open(const char*, bool, const char*, tovani_archive** out_handle,
                          tovani_archive_info*) noexcept {
    if (out_handle) *out_handle = nullptr;
    return TOVANI_ENGINE_FAILURE;
}
tovani_status tovani_read_entry(tovani_archive*, tovani_entry*) noexcept { return TOVANI_ENGINE_FAILURE; }
tovani_status tovani_skip_entry(tovani_archive*) noexcept { return TOVANI_ENGINE_FAILURE; }
tovani_status tovani_extract_entry(tovani_archive*, tovani_data_callback, void*) noexcept { return TOVANI_ENGINE_FAILURE; }
const char* tovani_missing_volume(tovani_archive*) noexcept { return ""; }
size_t tovani_next_volume_count(tovani_archive*) noexcept { return 0; }
const char* tovani_next_volume_path(tovani_archive*, size_t) noexcept { return ""; }
void tovani_close(tovani_archive*) noexcept {}
}
