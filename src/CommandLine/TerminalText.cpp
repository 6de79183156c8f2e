#include "CommandLine/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace tovani {

namespace {

void appendHex(std::string& out, const char* format, unsigned value) {
    char escape[16];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

// The length of the well-formed UTF-8 sequence at text[at], or 0; its
// character in value.
std::size_t sequenceLength(std::string_view text, std::size_t at, std::uint32_t& value) {
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
    value = lead & (0x7F >> length);
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

// Characters that show nothing yet change what a line shows: C1 controls
// (CSI among them); bidi controls, which reorder the text around them, so
// that "\u202etxt.exe" reads "exe.txt"; zero-width and other invisible format
// characters, which make two names look alike; and the line and paragraph
// separators some terminals break lines at.
bool isHidden(std::uint32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0xAD || c == 0x061C || c == 0x180E ||
           (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) ||
           (c >= 0xE0000 && c <= 0xE007F);
}

}  // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::uint32_t value = 0;
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
        } else if (const std::size_t length = sequenceLength(text, at, value); length == 0) {
            appendHex(out, "\\x%02x", c);
            ++at;
        } else if (isHidden(value)) {
            appendHex(out, value > 0xFFFF ? "\\U%08x" : "\\u%04x", value);
            at += length;
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
