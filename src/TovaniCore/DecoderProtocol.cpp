#include "TovaniCore/DecoderProtocol.h"

#include <cstring>

namespace tovani::DecoderProtocol {

namespace {

class Encoder {
public:
    void u8(std::uint8_t value) { out_.push_back(static_cast<std::byte>(value)); }
    void u32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            u8(static_cast<std::uint8_t>(value >> shift));
        }
    }
    void u64(std::uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8) {
            u8(static_cast<std::uint8_t>(value >> shift));
        }
    }
    void text(const std::string& value) {
        u32(static_cast<std::uint32_t>(value.size()));
        const auto* bytes = reinterpret_cast<const std::byte*>(value.data());
        out_.insert(out_.end(), bytes, bytes + value.size());
    }
    void texts(const std::vector<std::string>& values) {
        u32(static_cast<std::uint32_t>(values.size()));
        for (const std::string& value : values) {
            text(value);
        }
    }
    std::vector<std::byte> take() { return std::move(out_); }

private:
    std::vector<std::byte> out_;
};

class Decoder {
public:
    explicit Decoder(std::span<const std::byte> payload) : rest_(payload) {}

    std::uint8_t u8() {
        need(1);
        const auto value = static_cast<std::uint8_t>(rest_[0]);
        rest_ = rest_.subspan(1);
        return value;
    }
    std::uint32_t u32() {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            value |= static_cast<std::uint32_t>(u8()) << shift;
        }
        return value;
    }
    std::uint64_t u64() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 8) {
            value |= static_cast<std::uint64_t>(u8()) << shift;
        }
        return value;
    }
    // A text of at most limit bytes.
    std::string text(std::size_t limit = kMaxPayload) {
        const std::uint32_t size = u32();
        if (size > limit) {
            throw Malformed("text too long");
        }
        need(size);
        std::string value(reinterpret_cast<const char*>(rest_.data()), size);
        rest_ = rest_.subspan(size);
        return value;
    }
    std::vector<std::string> texts(std::size_t limit = kMaxPayload) {
        const std::uint32_t count = u32();
        // Each text takes at least its 4-byte length, so a count beyond that
        // is a lie and must not reserve memory.
        if (count > rest_.size() / 4) {
            throw Malformed("text count beyond the payload");
        }
        std::vector<std::string> values;
        values.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            values.push_back(text(limit));
        }
        return values;
    }
    // An enumeration's byte: no value beyond the last one is taken.
    template <typename Enum>
    Enum choice(Enum last, const char* what) {
        const std::uint8_t value = u8();
        if (value > static_cast<std::uint8_t>(last)) {
            throw Malformed(what);
        }
        return static_cast<Enum>(value);
    }
    // Flag bytes may only use the bits that have a meaning.
    std::uint8_t flags(std::uint8_t allowed) {
        const std::uint8_t value = u8();
        if ((value & ~allowed) != 0) {
            throw Malformed("unknown flag bits");
        }
        return value;
    }
    void end() const {
        if (!rest_.empty()) {
            throw Malformed("trailing bytes");
        }
    }

private:
    void need(std::size_t size) const {
        if (rest_.size() < size) {
            throw Malformed("payload too short");
        }
    }

    std::span<const std::byte> rest_;
};

constexpr std::uint8_t bit(int index) {
    return static_cast<std::uint8_t>(1U << index);
}

}  // namespace

bool carriesData(const EntryRecord& entry) {
    return entry.kind == EntryKind::file;
}

std::vector<std::byte> encode(const Request& message) {
    Encoder out;
    out.u8(static_cast<std::uint8_t>((message.forExtraction ? bit(0) : 0) |
                                     (message.password ? bit(1) : 0)));
    out.u8(static_cast<std::uint8_t>(message.backend));
    out.text(message.password.value_or(std::string()));
    out.text(message.archive);
    out.texts(message.volumes);
    return out.take();
}

std::vector<std::byte> encode(const Opened& message) {
    Encoder out;
    const ArchiveFlags& flags = message.flags;
    out.u8(static_cast<std::uint8_t>(
        (flags.isVolume ? bit(0) : 0) | (flags.isFirstVolume ? bit(1) : 0) |
        (flags.isSolid ? bit(2) : 0) | (flags.hasEncryptedHeaders ? bit(3) : 0)));
    const AbsentLayers& absent = message.absent;
    out.u8(static_cast<std::uint8_t>((absent.fileSystemRules ? bit(0) : 0) |
                                     (absent.systemCallFilter ? bit(1) : 0) |
                                     (absent.addressSpaceLimit ? bit(2) : 0)));
    out.u8(static_cast<std::uint8_t>(message.container));
    return out.take();
}

// Optional fields travel as a flag and a value that is 0 when the flag is
// clear, so that every record has exactly one encoding.
std::vector<std::byte> encode(const EntryRecord& message) {
    Encoder out;
    out.text(message.name);
    out.text(message.target);
    out.u8(static_cast<std::uint8_t>(message.kind));
    out.u8(static_cast<std::uint8_t>(
        (message.unpackedSize ? bit(0) : 0) | (message.modified ? bit(1) : 0) |
        (message.unixMode ? bit(2) : 0) | (message.isEncrypted ? bit(3) : 0)));
    out.u64(message.unpackedSize.value_or(0));
    out.u64(message.packedSize);
    const Time modified = message.modified.value_or(Time{});
    out.u64(static_cast<std::uint64_t>(modified.seconds));
    out.u32(modified.nanoseconds);
    out.u32(message.unixMode.value_or(0));
    return out.take();
}

std::vector<std::byte> encode(const Finished& message) {
    Encoder out;
    out.u8(static_cast<std::uint8_t>(message.status));
    out.u8(static_cast<std::uint8_t>(message.stage));
    out.u8(message.requiredMemory ? bit(0) : 0);
    out.u64(message.requiredMemory.value_or(0));
    out.text(message.missingVolume);
    out.texts(message.volumes);
    return out.take();
}

Request decodeRequest(std::span<const std::byte> payload) {
    Decoder in(payload);
    Request message;
    const std::uint8_t flags = in.flags(bit(0) | bit(1));
    message.forExtraction = (flags & bit(0)) != 0;
    message.backend = in.choice(Backend::libarchive, "unknown backend");
    std::string password = in.text();
    if ((flags & bit(1)) != 0) {
        message.password = std::move(password);
    } else if (!password.empty()) {
        throw Malformed("a password without its flag");
    }
    message.archive = in.text();
    message.volumes = in.texts();
    in.end();
    return message;
}

Opened decodeOpened(std::span<const std::byte> payload) {
    Decoder in(payload);
    const std::uint8_t flags = in.flags(bit(0) | bit(1) | bit(2) | bit(3));
    const std::uint8_t absent = in.flags(bit(0) | bit(1) | bit(2));
    const Container container = in.choice(Container::raw, "unknown container");
    in.end();
    Opened message;
    message.container = container;
    message.flags.isVolume = (flags & bit(0)) != 0;
    message.flags.isFirstVolume = (flags & bit(1)) != 0;
    message.flags.isSolid = (flags & bit(2)) != 0;
    message.flags.hasEncryptedHeaders = (flags & bit(3)) != 0;
    message.absent.fileSystemRules = (absent & bit(0)) != 0;
    message.absent.systemCallFilter = (absent & bit(1)) != 0;
    message.absent.addressSpaceLimit = (absent & bit(2)) != 0;
    return message;
}

EntryRecord decodeEntry(std::span<const std::byte> payload) {
    Decoder in(payload);
    EntryRecord message;
    message.name = in.text(kMaxNameBytes);
    message.target = in.text(kMaxNameBytes);
    message.kind = in.choice(EntryKind::special, "unknown entry kind");
    const std::uint8_t flags = in.flags(bit(0) | bit(1) | bit(2) | bit(3));
    const std::uint64_t unpackedSize = in.u64();
    message.packedSize = in.u64();
    const std::uint64_t modifiedSeconds = in.u64();
    const std::uint32_t modifiedNanoseconds = in.u32();
    const std::uint32_t unixMode = in.u32();
    in.end();
    const auto present = [&](int flag, std::uint64_t value) {
        if ((flags & bit(flag)) == 0 && value != 0) {
            throw Malformed("a value without its flag");
        }
        return (flags & bit(flag)) != 0;
    };
    if (present(0, unpackedSize)) {
        message.unpackedSize = unpackedSize;
    }
    if (present(1, modifiedSeconds | modifiedNanoseconds)) {
        if (modifiedNanoseconds >= kNanosecondsPerSecond) {
            throw Malformed("nanoseconds beyond a second");
        }
        message.modified = Time{static_cast<std::int64_t>(modifiedSeconds), modifiedNanoseconds};
    }
    if (present(2, unixMode)) {
        if (unixMode > 07777) {
            throw Malformed("mode bits beyond the permissions");
        }
        message.unixMode = static_cast<std::uint16_t>(unixMode);
    }
    message.isEncrypted = (flags & bit(3)) != 0;
    return message;
}

Finished decodeFinished(std::span<const std::byte> payload) {
    Decoder in(payload);
    Finished message;
    message.status = in.choice(Status::unsupportedEncryption, "unknown status");
    message.stage = in.choice(Stage::processingEntry, "unknown stage");
    const bool hasRequiredMemory = in.flags(bit(0)) != 0;
    const std::uint64_t requiredMemory = in.u64();
    if (hasRequiredMemory) {
        message.requiredMemory = requiredMemory;
    } else if (requiredMemory != 0) {
        throw Malformed("a value without its flag");
    }
    message.missingVolume = in.text(kMaxNameBytes);
    message.volumes = in.texts(kMaxNameBytes);
    in.end();
    if (message.requiredMemory && message.status != Status::outOfMemory) {
        throw Malformed("a size of memory with another status");
    }
    return message;
}

std::vector<std::byte> encode(const RingData& message) {
    Encoder out;
    out.u32(message.offset);
    out.u32(message.length);
    return out.take();
}

RingData decodeRingData(std::span<const std::byte> payload) {
    Decoder in(payload);
    RingData message;
    message.offset = in.u32();
    message.length = in.u32();
    in.end();
    return message;
}

void appendFrameHeader(std::vector<std::byte>& out, MessageType type, std::size_t size) {
    out.push_back(static_cast<std::byte>(type));
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::byte>((size >> shift) & 0xFF));
    }
}

void appendFrame(std::vector<std::byte>& out, MessageType type,
                 std::span<const std::byte> payload) {
    appendFrameHeader(out, type, payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
}

std::uint32_t payloadSize(std::span<const std::byte, kFrameHeaderSize> header) {
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) {
        size |= static_cast<std::uint32_t>(header[1 + i]) << (8 * i);
    }
    return size;
}

void wipe(std::vector<std::byte>& bytes) {
    volatile std::byte* data = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        data[i] = std::byte{0};
    }
}

void wipe(std::string& text) {
    volatile char* data = text.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        data[i] = 0;
    }
}

}  // namespace tovani::DecoderProtocol
