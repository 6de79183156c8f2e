#include "Messages/ByteCountFormatter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace tovani {
namespace {

std::string formatted(std::int64_t bytes, const QLocale& locale = QLocale::c()) {
    return ByteCountFormatter::format(bytes, locale).toStdString();
}

TEST(ByteCountFormatter, BytesAndTheNonNumericZero) {
    EXPECT_EQ(formatted(0), "Zero KB");
    EXPECT_EQ(formatted(1), "1 byte");
    EXPECT_EQ(formatted(2), "2 bytes");
    EXPECT_EQ(formatted(350), "350 bytes");
    EXPECT_EQ(formatted(999), "999 bytes");
}

TEST(ByteCountFormatter, DecimalUnitsWithAdaptivePrecision) {
    EXPECT_EQ(formatted(1000), "1 KB");
    EXPECT_EQ(formatted(1499), "1 KB");
    EXPECT_EQ(formatted(1500), "2 KB");
    EXPECT_EQ(formatted(12'345), "12 KB");
    EXPECT_EQ(formatted(1'000'000), "1 MB");
    EXPECT_EQ(formatted(1'234'567), "1.2 MB");
    EXPECT_EQ(formatted(12'345'678), "12.3 MB");
    EXPECT_EQ(formatted(1'200'000'000), "1.2 GB");
    EXPECT_EQ(formatted(1'234'567'890), "1.23 GB");
    EXPECT_EQ(formatted(5'000'000'000'000), "5 TB");
    EXPECT_EQ(formatted(7'890'000'000'000'000), "7.89 PB");
    EXPECT_EQ(formatted(std::numeric_limits<std::int64_t>::max()), "9.22 EB");
}

TEST(ByteCountFormatter, RoundingUpToAThousandMovesToTheNextUnit) {
    EXPECT_EQ(formatted(999'499), "999 KB");
    EXPECT_EQ(formatted(999'500), "1 MB");
    EXPECT_EQ(formatted(999'960'000), "1 GB");
    EXPECT_EQ(formatted(999'994'000'000), "999.99 GB");
    EXPECT_EQ(formatted(999'995'000'001), "1 TB");
}

TEST(ByteCountFormatter, UsesTheLocaleDecimalSeparator) {
    EXPECT_EQ(formatted(1'234'567, QLocale(QLocale::German, QLocale::Germany)), "1,2 MB");
    EXPECT_EQ(formatted(-1'234'567), "-1.2 MB");
}

}  // namespace
}  // namespace tovani
