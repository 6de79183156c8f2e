#include "RarBridge/tovani_unicode.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace tovani {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;
constexpr wchar_t kMappedMark = 0xFFFE;
constexpr wchar_t kMapFirst = 0xE080;
constexpr wchar_t kMapLast = 0xE0FF;

// Code page 850 from 0x80 on.
constexpr char16_t kCodePage850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557,
    0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB,
    0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9,
    0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

void appendUtf8(std::uint32_t value, std::string& out) {
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

void appendLegacyByte(unsigned char byte, LegacyBytes legacy, std::string& out) {
    if (byte < 0x80) {
        out.push_back(static_cast<char>(byte));
    } else if (legacy == LegacyBytes::oemCodePage) {
        appendUtf8(kCodePage850[byte - 0x80], out);
    } else {
        static constexpr char kHex[] = "0123456789ABCDEF";
        out.push_back('%');
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
    }
}

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
        appendUtf8(static_cast<std::uint32_t>(*text), out);
    }
    return out;
}

std::string Utf8FromLibraryName(const wchar_t* name, LegacyBytes legacy) {
    if (std::wcschr(name, kMappedMark) == nullptr) {
        return Utf8FromWide(name);
    }
    auto isMapped = [](wchar_t c) { return c >= kMapFirst && c <= kMapLast; };
    std::string out;
    if (legacy == LegacyBytes::escaped) {
        for (; *name != 0; ++name) {
            if (isMapped(*name)) {
                appendLegacyByte(static_cast<unsigned char>(*name - 0xE000), legacy, out);
            } else if (*name != kMappedMark) {
                appendUtf8(static_cast<std::uint32_t>(*name), out);
            }
        }
        return out;
    }
    // A name in a code page is read in that page throughout: the characters
    // the library decoded stand for their UTF-8 bytes, which are bytes of
    // the page as much as the mapped ones.
    std::string bytes;
    for (; *name != 0; ++name) {
        if (isMapped(*name)) {
            bytes.push_back(static_cast<char>(*name - 0xE000));
        } else if (*name != kMappedMark) {
            appendUtf8(static_cast<std::uint32_t>(*name), bytes);
        }
    }
    for (const char byte : bytes) {
        appendLegacyByte(static_cast<unsigned char>(byte), legacy, out);
    }
    return out;
}

std::string Utf8FromBytesEscaping(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto at = [&](std::size_t k) {
            return i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0u;
        };
        const unsigned lead = at(0);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::uint32_t value = lead;
        if (lead >= 0x80) {
            value = lead & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) {
                if ((at(k) & 0xC0) != 0x80) {
                    length = 0;
                    break;
                }
                value = value << 6 | (at(k) & 0x3F);
            }
        }
        // Only the shortest form of a character counts, and no surrogates.
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        const bool wellFormed = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4 && length > 0 &&
                                                value >= smallest[length] && value <= 0x10FFFF &&
                                                !(value >= 0xD800 && value <= 0xDFFF));
        if (!wellFormed) {
            appendLegacyByte(static_cast<unsigned char>(lead), LegacyBytes::escaped, out);
            ++i;
            continue;
        }
        out.append(bytes.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace tovani
