#include "RarBridge/tovani_unicode.h"

#include <cstdint>
#include <cstring>

namespace tovani {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

}  // namespace

void AppendWideFromUtf8(const char* text, std::wstring& out) {
    // Never more code points than bytes.
    out.reserve(out.size() + std::strlen(text));
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    while (*bytes != 0) {
        const unsigned char lead = *bytes++;
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            continue;
        }
        std::uint32_t value = 0;
        int following = 0;
        if ((lead & 0xE0) == 0xC0) {
            value = lead & 0x1F;
            following = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            value = lead & 0x0F;
            following = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            value = lead & 0x07;
            following = 3;
        } else {
            out.push_back(kReplacement);
            continue;
        }
        bool complete = true;
        for (int i = 0; i < following; ++i) {
            // The NUL fails this test too, so the loop stops at the end.
            if ((*bytes & 0xC0) != 0x80) {
                complete = false;
                break;
            }
            value = value << 6 | (*bytes++ & 0x3F);
        }
        out.push_back(complete ? static_cast<wchar_t>(value) : kReplacement);
    }
}

std::wstring WideFromUtf8(const char* text) {
    std::wstring wide;
    AppendWideFromUtf8(text, wide);
    return wide;
}

std::string Utf8FromWide(const wchar_t* text) {
    std::string out;
    for (; *text != 0; ++text) {
        auto value = static_cast<std::uint32_t>(*text);
        if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
            value = 0xFFFD;
        }
        if (value < 0x80) {
            out.push_back(static_cast<char>(value));
        } else if (value < 0x800) {
            out.push_back(static_cast<char>(0xC0 | value >> 6));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        } else if (value < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | value >> 12));
            out.push_back(static_cast<char>(0x80 | (value >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | value >> 18));
            out.push_back(static_cast<char>(0x80 | (value >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (value >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        }
    }
    return out;
}

}  // namespace tovani
