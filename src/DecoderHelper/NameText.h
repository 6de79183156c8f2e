// NameText turns the bytes an archive stores as a name into the UTF-8 the
// protocol carries. Bytes that are valid UTF-8 are taken as they are; other
// bytes are read in the code page their writer most likely used: CP437 for
// zip (Windows' own zip writer and the zip standard's default), Latin-1 for
// the rest. The conversion is a table of its own, so it needs no converter
// loaded from the disk.
//
//   std::string name = NameText::toUtf8("caf\x82", NameText::Legacy::cp437);  // "café"
#pragma once

#include <string>
#include <string_view>

namespace tovani::NameText {

enum class Legacy { cp437, latin1 };

bool isValidUtf8(std::string_view bytes);

// bytes unchanged when valid UTF-8; else each byte through the legacy page.
// Names hold no NUL: the conversion ends at the first.
std::string toUtf8(std::string_view bytes, Legacy legacy);

}  // namespace tovani::NameText
