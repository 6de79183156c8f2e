// The bridge's conversions between UTF-8 and the UnRAR library's wide
// characters (one code point per wchar_t). Both are lenient: malformed
// input becomes U+FFFD instead of failing, so every name can be shown.
//
//   std::wstring wide = tovani::WideFromUtf8("a\xC3" "b");  // L"a\uFFFDb"
//   std::string text = tovani::Utf8FromWide(L"caf\u00E9");   // "caf\xC3\xA9"
#pragma once

#include <string>
#include <string_view>

namespace tovani {

// Decodes NUL-terminated UTF-8. A byte that cannot start a sequence yields
// U+FFFD and is consumed; a sequence cut short yields one U+FFFD and the
// interrupting byte starts the next character. Decoded values are passed on
// unchecked (overlong forms, surrogates, values above U+10FFFF).
std::wstring WideFromUtf8(const char* text);

// Appends the decoded text to out; out's capacity is reserved first so that
// no copy of the text is left behind in released memory (for passwords).
void AppendWideFromUtf8(const char* text, std::wstring& out);

// Encodes a 0-terminated wide string; surrogates and values above U+10FFFF
// become U+FFFD.
std::string Utf8FromWide(const wchar_t* text);

// How the bytes of a name that are not UTF-8 are read.
enum class LegacyBytes {
    // As the OEM code page 850, in which DOS and Windows versions of RAR
    // stored names without their Unicode form.
    oemCodePage,
    // As "%XX" (the byte in upper-case hex), visible and distinct.
    escaped,
};

// Encodes a name or link target as the library delivers it. The library
// carries the bytes it could not decode as U+E080..U+E0FF behind one U+FFFE
// mark; without the mark this is Utf8FromWide. With it, the name's bytes are
// restored and every byte of 0x80 and up is read as legacy says, so that
// "caf\x82.txt" from a Windows RAR 2.x becomes "café.txt", and
// "a\xFF.exe" and "a\xFE.txt" from a RAR 5 stay two names.
//
//   Utf8FromLibraryName(L"caf\uFFFE\uE082.txt", LegacyBytes::oemCodePage);  // "café.txt"
//   Utf8FromLibraryName(L"a\uFFFE\uE0FF.exe", LegacyBytes::escaped);        // "a%FF.exe"
std::string Utf8FromLibraryName(const wchar_t* name, LegacyBytes legacy);

// Bytes that should be UTF-8 (a RAR 1.5-4.x link target, stored as data),
// with every byte that is not part of a well-formed character as "%XX".
//
//   Utf8FromBytesEscaping("caf\xC3\xA9/\xFF");  // "caf\xC3\xA9/%FF"
std::string Utf8FromBytesEscaping(std::string_view bytes);

}  // namespace tovani
