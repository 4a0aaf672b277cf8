#include "driver/clock.h"

#include <cstdio>

namespace quorvale {

namespace {

std::tm local_now() {
  std::time_t t = std::time(nullptr);
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

}  // namespace

Clock::Clock() : now_(local_now) {}

long long days_from_civil(int year, int month, int day) {
  // Shift the year to start in March so that the leap day ends it.
  long long y = year - (month <= 2 ? 1 : 0);
  long long era = (y >= 0 ? y : y - 399) / 400;
  long long yoe = y - era * 400;
  long long mp = (month + 9) % 12;
  long long doy = (153 * mp + 2) / 5 + day - 1;
  long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

float Clock::secnds(float t) {
  std::tm now = now_();
  long long today = days_from_civil(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  if (!started_) {
    started_ = true;
    first_day_ = today;
  }
  float seconds = static_cast<float>(now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec);
  float result = seconds - t;
  if (today != first_day_) result += 86400.0F * static_cast<float>(today - first_day_);
  return result;
}

std::string Clock::dater() const {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm now = now_();
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %04d",
                kDays[(now.tm_wday % 7 + 7) % 7], kMonths[(now.tm_mon % 12 + 12) % 12],
                now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec, now.tm_year + 1900);
  std::string out(text);
  out.resize(30, ' ');
  return out;
}

}  // namespace quorvale
