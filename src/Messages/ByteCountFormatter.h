// ByteCountFormatter turns a byte count into a short size for people, in
// decimal (1000-based) units with one short unit name, as file managers show
// file sizes: "Zero KB", "1 byte", "350 bytes", "12 KB", "1.2 MB", "9.22 EB".
//
//   QString text = ByteCountFormatter::format(1'234'567);  // "1.2 MB"
#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

namespace tovani::ByteCountFormatter {

// Bytes and KB show whole numbers, MB one fraction digit, GB and above two;
// trailing fraction zeros are dropped, and a value that rounds up to 1000 of a
// unit moves to the next one. Zero reads "Zero KB"; a negative count is shown
// with a minus sign. Numbers use the locale's digits and decimal separator.
QString format(std::int64_t bytes, const QLocale& locale = QLocale());

}  // namespace tovani::ByteCountFormatter
