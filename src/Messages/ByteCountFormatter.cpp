#include "Messages/ByteCountFormatter.h"

#include <QCoreApplication>
#include <array>
#include <cmath>

namespace tovani::ByteCountFormatter {
namespace {

class Texts {
    Q_DECLARE_TR_FUNCTIONS(ByteCountFormatter)
};

struct Unit {
    int fractionDigits;
    QString (*withNumber)(const QString& number);
};

// Indexed by the power of 1000; bytes are handled apart for the singular.
const std::array<Unit, 7> units{{
    {0, [](const QString& n) { return Texts::tr("%1 bytes").arg(n); }},
    {0, [](const QString& n) { return Texts::tr("%1 KB").arg(n); }},
    {1, [](const QString& n) { return Texts::tr("%1 MB").arg(n); }},
    {2, [](const QString& n) { return Texts::tr("%1 GB").arg(n); }},
    {2, [](const QString& n) { return Texts::tr("%1 TB").arg(n); }},
    {2, [](const QString& n) { return Texts::tr("%1 PB").arg(n); }},
    {2, [](const QString& n) { return Texts::tr("%1 EB").arg(n); }},
}};

}  // namespace

QString format(std::int64_t bytes, const QLocale& locale) {
    if (bytes == 0) {
        return Texts::tr("Zero KB");
    }
    if (bytes == 1) {
        return Texts::tr("1 byte");
    }
    // The magnitude as a double: exact below 2^53, and close enough above.
    double magnitude = std::fabs(static_cast<double>(bytes));
    std::size_t power = 0;
    double value = magnitude;
    while (value >= 1000.0 && power + 1 < units.size()) {
        value /= 1000.0;
        ++power;
    }
    // Round in the unit's precision; 999.96 MB is shown as 1 GB, not 1000 MB.
    std::int64_t scale = 1;
    std::int64_t rounded = 0;
    for (;;) {
        scale = 1;
        for (int i = 0; i < units[power].fractionDigits; ++i) {
            scale *= 10;
        }
        rounded = std::llround(value * static_cast<double>(scale));
        if (rounded < 1000 * scale || power + 1 == units.size()) {
            break;
        }
        value /= 1000.0;
        ++power;
    }
    // Only the fraction digits that are not trailing zeros are shown.
    int digits = units[power].fractionDigits;
    while (digits > 0 && rounded % 10 == 0) {
        rounded /= 10;
        scale /= 10;
        --digits;
    }
    double shown = static_cast<double>(rounded) / static_cast<double>(scale);
    QString number = locale.toString(bytes < 0 ? -shown : shown, 'f', digits);
    return units[power].withNumber(number);
}

}  // namespace tovani::ByteCountFormatter
