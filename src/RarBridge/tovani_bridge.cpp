#include "RarBridge/tovani_bridge.h"

#include <locale.h>
#include <unrar/dll.hpp>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "RarBridge/tovani_archive_end.h"
#include "RarBridge/tovani_unicode.h"

// Libraries from interface version 9 on deliver names of any length through
// FileNameEx; older ones only through the fixed 1,024-character FileNameW.
#if RAR_DLL_VERSION >= 9
#define TOVANI_HAS_FILE_NAME_EX 1
#else
#define TOVANI_HAS_FILE_NAME_EX 0
#endif

namespace {

constexpr std::size_t kNameBufferSize = 65536;

// Header flag bits of RARHeaderDataEx.Flags and archive flags of
// RAROpenArchiveDataEx.Flags, as the library defines them.
constexpr unsigned kHeaderEncrypted = RHDF_ENCRYPTED;
constexpr unsigned kHeaderDirectory = RHDF_DIRECTORY;
// An older version of a file (rar -ver), flagged by the library's patch.
constexpr unsigned kHeaderOldVersion = RHDF_VERSION;
// The header has a modification time, given whole (the library's patch).
constexpr unsigned kHeaderModificationTime = RHDF_MTIME;
constexpr unsigned kHostWindows = 2;
// Only a Unix host's attribute word is a mode; a host the library does not
// know is neither (its patch), and its entries get the default mode.
constexpr unsigned kHostUnix = 3;
// The record types of a Windows symbolic link and of a junction.
constexpr unsigned kRedirectionWindowsLink = 2;
constexpr unsigned kRedirectionJunction = 3;
// The library holds a link target in 2,048 characters with its terminator
// and cuts a longer one without saying so.
constexpr std::size_t kLibraryTargetLimit = 2047;
// The longest link target Linux takes (PATH_MAX less the terminator).
constexpr std::size_t kLongestLinkTarget = 4095;
// Entries of the RAR 5 format report a version needed of 50 and up.
constexpr unsigned kFirstRar5Version = 50;

// The library turns wide file names into the bytes it passes to open() with
// the C library's multibyte functions, so under a non-UTF-8 locale (LANG=C)
// every archive path with a non-ASCII character fails to open. Paths are
// UTF-8 here; each library call therefore runs with a UTF-8 character type
// on the calling thread only (uselocale), leaving the process locale alone.
class Utf8LocaleScope {
public:
    Utf8LocaleScope() {
        static const locale_t utf8 = [] {
            locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
            if (made == static_cast<locale_t>(0)) {
                made = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
            }
            return made;
        }();
        if (utf8 != static_cast<locale_t>(0)) {
            previous_ = uselocale(utf8);
        }
    }
    ~Utf8LocaleScope() {
        if (previous_ != static_cast<locale_t>(0)) {
            uselocale(previous_);
        }
    }
    Utf8LocaleScope(const Utf8LocaleScope&) = delete;
    Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

private:
    locale_t previous_ = static_cast<locale_t>(0);
};

}  // namespace

struct tovani_archive {
    HANDLE rar_handle = nullptr;
    bool has_password = false;
    std::wstring password_wide;
    bool password_requested = false;
    tovani_data_callback data_callback = nullptr;
    void* data_context = nullptr;
    bool cancel_requested = false;
    std::string missing_volume;
    std::vector<std::string> next_volumes;
    tovani_volume_filter volume_filter = nullptr;
    void* volume_context = nullptr;
#if TOVANI_HAS_FILE_NAME_EX
    std::unique_ptr<wchar_t[]> name_buffer{new wchar_t[kNameBufferSize]};
#endif
    std::unique_ptr<wchar_t[]> target_buffer{new wchar_t[kNameBufferSize]};
    // About 16 KB, so made once per handle rather than once per entry.
    std::unique_ptr<RARHeaderDataEx> header{new RARHeaderDataEx};
    std::string current_name;
    std::string current_target;
    bool current_encrypted = false;
    // The last entry read fills its name field: it may have been cut.
    bool current_name_too_long = false;
    // The last entry read is of the RAR 5 format, which checks passwords
    // itself.
    bool current_rar5 = false;
    // The last entry's data was already read (an old link's target).
    bool current_processed = false;
    bool for_extraction = false;
    // The path passed to tovani_open, and the format its signature names.
    std::string archive_path;
    tovani::ArchiveFormat format = tovani::ArchiveFormat::unknown;
    // Memory ran out inside the library callback, which has no status of its
    // own to report it with.
    bool callback_out_of_memory = false;

    tovani_archive() {
#if TOVANI_HAS_FILE_NAME_EX
        name_buffer[0] = 0;
#endif
        target_buffer[0] = 0;
    }

    ~tovani_archive() {
        // Volatile stores cannot be dropped as dead writes before the free.
        volatile wchar_t* characters = password_wide.data();
        for (std::size_t i = 0; i < password_wide.size(); ++i) {
            characters[i] = 0;
        }
    }

    tovani_archive(const tovani_archive&) = delete;
    tovani_archive& operator=(const tovani_archive&) = delete;
};

namespace {

tovani_status StatusFromRarCode(const tovani_archive& archive, int code) {
    if (code == ERAR_SUCCESS) {
        return TOVANI_OK;
    }
    if (archive.cancel_requested) {
        return TOVANI_CANCELLED;
    }
    if (!archive.missing_volume.empty()) {
        return TOVANI_VOLUME_MISSING;
    }
    if (archive.callback_out_of_memory) {
        return TOVANI_OUT_OF_MEMORY;
    }
    switch (code) {
        case ERAR_NO_MEMORY:
            return TOVANI_OUT_OF_MEMORY;
        case ERAR_BAD_DATA:
            return TOVANI_DAMAGED;
        case ERAR_BAD_ARCHIVE:
            return TOVANI_NOT_AN_ARCHIVE;
        case ERAR_UNKNOWN_FORMAT:
            return TOVANI_UNSUPPORTED_FORMAT;
        case ERAR_EOPEN:
        case ERAR_EREAD:
            return TOVANI_CANNOT_OPEN;
        case ERAR_MISSING_PASSWORD:
            return TOVANI_PASSWORD_REQUIRED;
        case ERAR_BAD_PASSWORD:
            return TOVANI_WRONG_PASSWORD;
        default:
            // ERAR_ECREATE, ERAR_ECLOSE, ERAR_EWRITE, ERAR_SMALL_BUF,
            // ERAR_UNKNOWN, ERAR_EREFERENCE, the large-dictionary refusal and
            // anything unknown.
            return TOVANI_ENGINE_FAILURE;
    }
}

// With a password given and asked for, "damaged" or "broken" means the
// password did not fit: RAR 1.5-4.x stores nothing to check a password
// against. RAR 5 does, and the library reports a wrong one itself, so there
// damaged means damaged.
bool LooksLikeWrongPassword(const tovani_archive& archive, tovani_status status) {
    return (status == TOVANI_DAMAGED || status == TOVANI_NOT_AN_ARCHIVE) && archive.has_password &&
           archive.password_requested && archive.format != tovani::ArchiveFormat::rar5;
}

int HandleData(tovani_archive& archive, LPARAM p1, LPARAM p2) {
    if (archive.data_callback == nullptr) {
        return 1;
    }
    bool goOn = false;
    try {
        goOn = archive.data_callback(reinterpret_cast<const uint8_t*>(p1), static_cast<size_t>(p2),
                                     archive.data_context);
    } catch (...) {
        // The callback must not throw; if it does, it refused the data.
        goOn = false;
    }
    if (!goOn) {
        archive.cancel_requested = true;
        return -1;
    }
    return 1;
}

int HandleVolume(tovani_archive& archive, LPARAM p1, LPARAM p2) {
    const auto* path = reinterpret_cast<const wchar_t*>(p1);
    if (p2 == RAR_VOL_ASK) {
        try {
            archive.missing_volume = path != nullptr ? tovani::Utf8FromWide(path) : std::string();
        } catch (...) {
            archive.callback_out_of_memory = true;
        }
        return -1;
    }
    if (p2 == RAR_VOL_NOTIFY) {
        try {
            std::string next = path != nullptr ? tovani::Utf8FromWide(path) : std::string();
            if (archive.volume_filter != nullptr &&
                !archive.volume_filter(next.c_str(), archive.volume_context)) {
                return -1;
            }
            archive.next_volumes.push_back(std::move(next));
        } catch (...) {
            archive.callback_out_of_memory = true;
            return -1;
        }
        return 1;
    }
    return 0;
}

int HandlePassword(tovani_archive& archive, LPARAM p1, LPARAM p2) {
    archive.password_requested = true;
    auto* buffer = reinterpret_cast<wchar_t*>(p1);
    if (!archive.has_password || p2 <= 0 || buffer == nullptr) {
        return -1;
    }
    const std::size_t capacity = static_cast<std::size_t>(p2) - 1;
    const std::size_t length = std::min(archive.password_wide.size(), capacity);
    std::memcpy(buffer, archive.password_wide.data(), length * sizeof(wchar_t));
    buffer[length] = 0;
    return 1;
}

int CALLBACK UnrarCallback(UINT message, LPARAM userData, LPARAM p1, LPARAM p2) {
    auto* archive = reinterpret_cast<tovani_archive*>(userData);
    if (archive == nullptr) {
        return 0;
    }
    switch (message) {
        case UCM_PROCESSDATA:
            return HandleData(*archive, p1, p2);
        case UCM_CHANGEVOLUMEW:
            return HandleVolume(*archive, p1, p2);
        case UCM_NEEDPASSWORDW:
            return HandlePassword(*archive, p1, p2);
        default:
            return 0;
    }
}

tovani_link_type LinkTypeFromRedirection(unsigned redirection) {
    switch (redirection) {
        case 1:  // Unix symbolic link
        case kRedirectionWindowsLink:
        case kRedirectionJunction:
            return TOVANI_LINK_SYMBOLIC;
        case 4:
            return TOVANI_LINK_HARD;
        case 5:
            return TOVANI_LINK_COPY;
        default:
            return TOVANI_LINK_NONE;
    }
}

tovani_status ProcessEntry(tovani_archive& archive, int operation) {
    if (archive.current_name_too_long) {
        return TOVANI_NAME_TOO_LONG;
    }
    if (archive.current_processed) {
        return TOVANI_OK;
    }
    int code;
    {
        Utf8LocaleScope locale;
        code = RARProcessFileW(archive.rar_handle, operation, nullptr, nullptr);
    }
    const tovani_status status = StatusFromRarCode(archive, code);
    if (archive.current_encrypted && !archive.current_rar5 &&
        LooksLikeWrongPassword(archive, status)) {
        return TOVANI_WRONG_PASSWORD;
    }
    return status;
}

// Collects an old link's target from its data, up to what Linux takes.
struct TargetCollector {
    std::string bytes;
    bool tooLong = false;
};

bool CollectTarget(const uint8_t* data, size_t size, void* context) {
    auto* collector = static_cast<TargetCollector*>(context);
    if (data == nullptr) {
        return true;
    }
    if (collector->bytes.size() + size > kLongestLinkTarget) {
        collector->tooLong = true;
        return true;
    }
    collector->bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
}

// A RAR 1.5-4.x symbolic link stores its target as its data: read now, so
// that the entry is delivered with it like a RAR 5 link (and its data is
// not read again). A target Linux cannot take, or with a NUL, is left empty,
// which skips the link.
tovani_status ReadOldLinkTarget(tovani_archive& archive) {
    TargetCollector collector;
    archive.data_callback = CollectTarget;
    archive.data_context = &collector;
    const tovani_status status = ProcessEntry(archive, RAR_TEST);
    archive.data_callback = nullptr;
    archive.data_context = nullptr;
    archive.current_processed = true;
    if (status != TOVANI_OK) {
        return status;
    }
    if (!collector.tooLong && collector.bytes.find('\0') == std::string::npos) {
        archive.current_target = tovani::Utf8FromBytesEscaping(collector.bytes);
    }
    return TOVANI_OK;
}

// The library ends as cleanly when the last volume stops between two blocks
// as at its end-of-archive record; only the record tells a whole archive
// from one cut short.
tovani_status EndOfArchiveStatus(const tovani_archive& archive) {
    const std::string& last =
        archive.next_volumes.empty() ? archive.archive_path : archive.next_volumes.back();
    return tovani::FindEndRecord(last.c_str()) == tovani::EndRecord::missing
               ? TOVANI_DAMAGED
               : TOVANI_END_OF_ARCHIVE;
}

}  // namespace

extern "C" {

tovani_status tovani_open(const char* path, bool for_extraction, const char* password,
                          tovani_archive** out_handle, tovani_archive_info* out_info) noexcept {
    if (out_handle == nullptr) {
        return TOVANI_ENGINE_FAILURE;
    }
    *out_handle = nullptr;
    if (path == nullptr) {
        return TOVANI_CANNOT_OPEN;
    }
    try {
        auto archive = std::make_unique<tovani_archive>();
        archive->archive_path = path;
        archive->for_extraction = for_extraction;
        archive->format = tovani::FormatOf(path);
        if (password != nullptr) {
            archive->has_password = true;
            tovani::AppendWideFromUtf8(password, archive->password_wide);
        }
        std::wstring widePath = tovani::WideFromUtf8(path);

        RAROpenArchiveDataEx data;
        std::memset(&data, 0, sizeof data);
        data.ArcNameW = widePath.data();
        data.OpenMode = for_extraction ? RAR_OM_EXTRACT : RAR_OM_LIST;
        data.Callback = UnrarCallback;
        data.UserData = reinterpret_cast<LPARAM>(archive.get());
        HANDLE handle;
        {
            Utf8LocaleScope locale;
            handle = RAROpenArchiveEx(&data);
        }
        // The library can hand back a handle together with an error.
        if (handle != nullptr && data.OpenResult != ERAR_SUCCESS) {
            RARCloseArchive(handle);
            handle = nullptr;
        }
        if (handle == nullptr) {
            const tovani_status status =
                StatusFromRarCode(*archive, static_cast<int>(data.OpenResult));
            if (LooksLikeWrongPassword(*archive, status)) {
                return TOVANI_WRONG_PASSWORD;
            }
            // A failed open without an error code is still a failure.
            return status == TOVANI_OK ? TOVANI_ENGINE_FAILURE : status;
        }
        // The library opens a file without a main header as an empty archive.
        if (tovani::FindMainHeader(path) == tovani::MainHeader::missing) {
            RARCloseArchive(handle);
            return TOVANI_DAMAGED;
        }
        archive->rar_handle = handle;
        if (out_info != nullptr) {
            out_info->is_volume = (data.Flags & ROADF_VOLUME) != 0;
            out_info->is_first_volume = (data.Flags & ROADF_FIRSTVOLUME) != 0;
            out_info->is_solid = (data.Flags & ROADF_SOLID) != 0;
            out_info->has_encrypted_headers = (data.Flags & ROADF_ENCHEADERS) != 0;
        }
        *out_handle = archive.release();
        return TOVANI_OK;
    } catch (const std::bad_alloc&) {
        return TOVANI_OUT_OF_MEMORY;
    } catch (...) {
        return TOVANI_ENGINE_FAILURE;
    }
}

tovani_status tovani_read_entry(tovani_archive* handle, tovani_entry* out_entry) noexcept {
    if (handle == nullptr || out_entry == nullptr) {
        return TOVANI_ENGINE_FAILURE;
    }
    try {
        RARHeaderDataEx* header = handle->header.get();
        handle->current_processed = false;
        // Old versions are passed over in a loop: an archive may hold any
        // number of them.
        for (;;) {
            // Cleared so that every field the library does not set reads as
            // zero.
            std::memset(header, 0, sizeof(RARHeaderDataEx));
#if TOVANI_HAS_FILE_NAME_EX
            handle->name_buffer[0] = 0;
            header->FileNameEx = handle->name_buffer.get();
            header->FileNameExSize = kNameBufferSize;
#endif
            // Cleared first so that an entry without a target never shows the
            // previous entry's.
            handle->target_buffer[0] = 0;
            header->RedirName = handle->target_buffer.get();
            header->RedirNameSize = kNameBufferSize;

            int code;
            {
                Utf8LocaleScope locale;
                code = RARReadHeaderEx(handle->rar_handle, header);
            }
            if (code == ERAR_END_ARCHIVE) {
                return EndOfArchiveStatus(*handle);
            }
            if (code != ERAR_SUCCESS) {
                const tovani_status status = StatusFromRarCode(*handle, code);
                return LooksLikeWrongPassword(*handle, status) ? TOVANI_WRONG_PASSWORD : status;
            }
            // unrar x writes only the current version of a file; the older ones
            // are passed over as it passes them.
            if ((header->Flags & kHeaderOldVersion) != 0) {
                handle->current_name_too_long = false;
                handle->current_encrypted = (header->Flags & kHeaderEncrypted) != 0;
                handle->current_rar5 = header->UnpVer >= kFirstRar5Version;
                const tovani_status skipped = ProcessEntry(*handle, RAR_SKIP);
                if (skipped != TOVANI_OK) {
                    return skipped;
                }
                continue;
            }
            break;
        }

#if TOVANI_HAS_FILE_NAME_EX
        wchar_t* const name = handle->name_buffer.get();
        const std::size_t nameCapacity = kNameBufferSize;
#else
        wchar_t* const name = header->FileNameW;
        const std::size_t nameCapacity = std::size(header->FileNameW);
#endif
        // The library cuts what does not fit without saying so; a name or
        // target that fills its field is taken to be cut.
        name[nameCapacity - 1] = 0;
        handle->target_buffer[kNameBufferSize - 1] = 0;
        const tovani_link_type linkType = LinkTypeFromRedirection(header->RedirType);
        const bool targetMayBeCut = std::wcslen(handle->target_buffer.get()) >= kLibraryTargetLimit;
        // A symbolic link whose target may be cut is delivered without one,
        // so it is skipped and listed; a cut hard link or copy fails as a
        // name too long does.
        handle->current_name_too_long = std::wcslen(name) >= nameCapacity - 1 ||
                                        (targetMayBeCut && linkType != TOVANI_LINK_SYMBOLIC);
        // DOS and Windows versions of RAR before 5 stored a name without its
        // Unicode form in the OEM code page; elsewhere a byte that is not
        // UTF-8 is shown escaped, so that two names never become one.
        const bool oemNames =
            handle->format != tovani::ArchiveFormat::rar5 && header->HostOS == kHostWindows;
        handle->current_name = tovani::Utf8FromLibraryName(
            name, oemNames ? tovani::LegacyBytes::oemCodePage : tovani::LegacyBytes::escaped);
        handle->current_target = targetMayBeCut && linkType == TOVANI_LINK_SYMBOLIC
                                     ? std::string()
                                     : tovani::Utf8FromLibraryName(handle->target_buffer.get(),
                                                                   tovani::LegacyBytes::escaped);
        // A Windows link or junction separates with backslashes; as unrar x
        // does, they become "/", so "..\x" climbs and "\??\C:\x" is absolute.
        if (header->RedirType == kRedirectionWindowsLink ||
            header->RedirType == kRedirectionJunction) {
            std::replace(handle->current_target.begin(), handle->current_target.end(), '\\', '/');
        }
        handle->current_encrypted = (header->Flags & kHeaderEncrypted) != 0;
        handle->current_rar5 = header->UnpVer >= kFirstRar5Version;
        const bool oldLink =
            handle->format != tovani::ArchiveFormat::rar5 && linkType == TOVANI_LINK_SYMBOLIC;
        // Listing reads no data; extraction delivers the target.
        if (handle->for_extraction && oldLink && handle->current_target.empty() &&
            !handle->current_name_too_long) {
            const tovani_status status = ReadOldLinkTarget(*handle);
            if (status != TOVANI_OK) {
                return status;
            }
        }

        *out_entry = tovani_entry{};
        out_entry->name_utf8 = handle->current_name.c_str();
        out_entry->target_utf8 = handle->current_target.c_str();
        out_entry->unpacked_size =
            header->UnpSize + (static_cast<std::uint64_t>(header->UnpSizeHigh) << 32);
        out_entry->packed_size =
            header->PackSize + (static_cast<std::uint64_t>(header->PackSizeHigh) << 32);
        out_entry->has_mtime = (header->Flags & kHeaderModificationTime) != 0;
        if (out_entry->has_mtime) {
            out_entry->mtime_seconds = static_cast<std::int64_t>(
                header->MtimeUnixLow | (static_cast<std::uint64_t>(header->MtimeUnixHigh) << 32));
            out_entry->mtime_nanoseconds = header->MtimeUnixNs;
        }
        out_entry->dictionary_size = static_cast<std::uint64_t>(header->DictSize) * 1024;
        out_entry->has_unix_mode = header->HostOS == kHostUnix;
        out_entry->attributes = header->FileAttr;
        out_entry->is_directory = (header->Flags & kHeaderDirectory) != 0;
        out_entry->is_encrypted = handle->current_encrypted;
        out_entry->link_type = linkType;
        return TOVANI_OK;
    } catch (const std::bad_alloc&) {
        return TOVANI_OUT_OF_MEMORY;
    } catch (...) {
        return TOVANI_ENGINE_FAILURE;
    }
}

tovani_status tovani_skip_entry(tovani_archive* handle) noexcept {
    if (handle == nullptr) {
        return TOVANI_ENGINE_FAILURE;
    }
    try {
        return ProcessEntry(*handle, RAR_SKIP);
    } catch (const std::bad_alloc&) {
        return TOVANI_OUT_OF_MEMORY;
    } catch (...) {
        return TOVANI_ENGINE_FAILURE;
    }
}

tovani_status tovani_extract_entry(tovani_archive* handle, tovani_data_callback callback,
                                   void* context) noexcept {
    if (handle == nullptr) {
        return TOVANI_ENGINE_FAILURE;
    }
    handle->data_callback = callback;
    handle->data_context = context;
    tovani_status status = TOVANI_ENGINE_FAILURE;
    try {
        status = ProcessEntry(*handle, RAR_TEST);
    } catch (const std::bad_alloc&) {
        status = TOVANI_OUT_OF_MEMORY;
    } catch (...) {
        status = TOVANI_ENGINE_FAILURE;
    }
    handle->data_callback = nullptr;
    handle->data_context = nullptr;
    return status;
}

const char* tovani_missing_volume(tovani_archive* handle) noexcept {
    return handle != nullptr ? handle->missing_volume.c_str() : "";
}

void tovani_set_volume_filter(tovani_archive* handle, tovani_volume_filter filter,
                              void* context) noexcept {
    if (handle != nullptr) {
        handle->volume_filter = filter;
        handle->volume_context = context;
    }
}

size_t tovani_next_volume_count(tovani_archive* handle) noexcept {
    return handle != nullptr ? handle->next_volumes.size() : 0;
}

const char* tovani_next_volume_path(tovani_archive* handle, size_t index) noexcept {
    return handle->next_volumes[index].c_str();
}

void tovani_close(tovani_archive* handle) noexcept {
    if (handle == nullptr) {
        return;
    }
    if (handle->rar_handle != nullptr) {
        Utf8LocaleScope locale;
        RARCloseArchive(handle->rar_handle);
    }
    delete handle;
}

}  // extern "C"
