#include "lib/parse/series_tail.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace trelvik {
namespace {

TEST(SeriesTail, RowsFromTheEndOfAFile) {
  // A read from the middle: the first line is cut, the last still being written.
  const std::string text =
      "5:00,0.3\r\n2026-12-08,10:00:00,0.42,0.30,0.20\r\n2026-12-08 10:02:00, 46.5\n"
      "2026-12-08,10:04:00,abc,1\n2026-13-08,10:06:00,1\nDate,Time,Load\n2026-12-08,10:08:00,0.5";
  const std::vector<SeriesRow> rows = parse_series_tail(text, false);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].seconds - rows[0].seconds, 120);
  EXPECT_EQ(rows[0].values, (std::vector<double>{0.42, 0.30, 0.20}));
  EXPECT_EQ(rows[1].values, (std::vector<double>{46.5}));
  EXPECT_TRUE(std::isnan(rows[2].values[0]));
  EXPECT_EQ(rows[2].values[1], 1);
  // From the start of a file the first line counts (a header is skipped as any text).
  EXPECT_EQ(parse_series_tail("2026-12-08,10:00:00,1\n", true).size(), 1u);
  EXPECT_TRUE(parse_series_tail("2026-12-08,10:00:00,1\n", false).empty());
  EXPECT_TRUE(parse_series_tail("", true).empty());
}

TEST(SeriesTail, TimesAcrossDaysAndYearsAndTheLastHour) {
  EXPECT_EQ(*series_time("2027-01-01,00:00:10") - *series_time("2026-12-31 23:59:50"), 20);
  EXPECT_EQ(*series_time("1970-01-01,00:00:00"), 0);
  EXPECT_EQ(*series_time("2024-03-01,00:00:00") - *series_time("2024-02-28,00:00:00"), 2 * 86400);
  for (const char* bad : {"2026-12-08T10:00:00", "2026-12-08,24:00:00", "2026-00-08,10:00:00", "2026-12-08,10:00",
                          "２026-12-08,10:00:00"}) {
    EXPECT_FALSE(series_time(bad).has_value()) << bad;
  }
  std::vector<SeriesRow> rows;
  rows.reserve(40);
  for (int i = 0; i < 40; ++i) rows.push_back({std::int64_t{i} * 120, {double(i)}});
  const std::vector<SeriesRow> hour = last_span(rows, 3600);
  ASSERT_EQ(hour.size(), 31u);
  EXPECT_EQ(hour.front().values[0], 9);
  EXPECT_EQ(hour.back().values[0], 39);
  EXPECT_TRUE(last_span({}, 3600).empty());
}

TEST(SeriesTail, CounterRatesBreakAtResets) {
  const std::vector<SeriesRow> rows{{0, {1000, 5}}, {120, {16000, 5}}, {240, {10, 5}}, {240, {20, 5}}, {360, {}}};
  const std::vector<double> rates = counter_bit_rates(rows, 0);
  ASSERT_EQ(rates.size(), 4u);
  EXPECT_EQ(rates[0], 1000.0);        // 15,000 bytes in 120 s
  EXPECT_TRUE(std::isnan(rates[1]));  // the counter went down: a reset
  EXPECT_TRUE(std::isnan(rates[2]));  // no time passed
  EXPECT_TRUE(std::isnan(rates[3]));  // no such column
}

TEST(SeriesTail, DataPointsOfTheInformationFile) {
  EXPECT_EQ(data_points_of("Model Name: Q\r\nCollected Data Points: 42\r\nDuration: 1\n"), 42u);
  EXPECT_EQ(data_points_of("Collected Data Points: 7"), 7u);
  EXPECT_FALSE(data_points_of("Collected Data Points: 7x\n").has_value());
  EXPECT_FALSE(data_points_of("Collected Data Points: \n").has_value());
  EXPECT_FALSE(data_points_of("").has_value());
}

}  // namespace
}  // namespace trelvik
