#include "CommandLine/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace tovani {

namespace {

void appendHex(std::string& out, const char* format, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

// The length of the well-formed UTF-8 sequence at text[at], or 0.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    std::uint32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x20 && c < 0x7F) {
            if (c == '\\') {
                out += "\\\\";
            } else {
                out += static_cast<char>(c);
            }
            ++at;
        } else if (c == '\n') {
            out += "\\n";
            ++at;
        } else if (c == '\r') {
            out += "\\r";
            ++at;
        } else if (c == '\t') {
            out += "\\t";
            ++at;
        } else if (c < 0x80) {
            appendHex(out, "\\x%02x", c);
            ++at;
        } else if (const std::size_t length = sequenceLength(text, at); length == 0) {
            appendHex(out, "\\x%02x", c);
            ++at;
        } else if (c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            // U+0080 to U+009F: C1 controls, CSI (U+009B) among them.
            appendHex(out, "\\u%04x", static_cast<unsigned char>(text[at + 1]));
            at += 2;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

std::vector<SkippedEntry> withTerminalSafePaths(const std::vector<SkippedEntry>& skipped) {
    std::vector<SkippedEntry> safe;
    safe.reserve(skipped.size());
    for (const SkippedEntry& entry : skipped) {
        safe.push_back(SkippedEntry{terminalSafe(entry.path), entry.reason});
    }
    return safe;
}

}  // namespace tovani
