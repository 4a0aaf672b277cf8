#include "driver/clock.h"

#include <gtest/gtest.h>

namespace quorvale {
namespace {

std::tm at(int year, int month, int day, int h, int m, int s, int wday = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_sec = s;
  t.tm_wday = wday;
  return t;
}

TEST(ClockDate, TwentyFourCharacterTextPaddedToThirty) {
  Clock clock([] { return at(2026, 12, 7, 5, 17, 10, 1); });
  EXPECT_EQ(clock.dater(), "Mon Dec  7 05:17:10 2026      ");
  Clock later([] { return at(1996, 10, 31, 23, 5, 9, 4); });
  EXPECT_EQ(later.dater(), "Thu Oct 31 23:05:09 1996      ");
}

TEST(ClockSeconds, ElapsedAcrossMidnightStaysPositive) {
  std::tm now = at(2026, 12, 31, 23, 59, 50);
  Clock clock([&] { return now; });
  float start = clock.secnds(0.0F);
  EXPECT_EQ(start, 86390.0F);
  now = at(2027, 1, 1, 0, 0, 5);  // a new day, month and year
  EXPECT_EQ(clock.secnds(start), 15.0F);
  now = at(2027, 3, 1, 0, 0, 0);  // 60 days after the first reading
  EXPECT_EQ(clock.secnds(0.0F), 60.0F * 86400.0F);
}

TEST(ClockSeconds, CivilDayNumbers) {
  EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
  EXPECT_EQ(days_from_civil(2000, 3, 1) - days_from_civil(2000, 2, 28), 2);  // leap year
  EXPECT_EQ(days_from_civil(1900, 3, 1) - days_from_civil(1900, 2, 28), 1);  // not leap
  EXPECT_EQ(days_from_civil(2027, 1, 1) - days_from_civil(2026, 1, 1), 365);
}

}  // namespace
}  // namespace quorvale
