#pragma once
// The wall clock of a run: the date text of the page headings and the
// seconds readings behind the elapsed-time lines.

#include <ctime>
#include <functional>
#include <string>

namespace quorvale {

/// Reads the local date and time; replaceable so that tests can fix the time.
class Clock {
 public:
  using Source = std::function<std::tm()>;

  /// A clock reading the machine's local time.
  Clock();
  explicit Clock(Source now) : now_(std::move(now)) {}

  /// Seconds of the day minus `t`, corrected by whole days since the first reading.
  float secnds(float t);
  /// The 24-character date text ("Mon Dec  7 05:17:10 2026"), blank-padded to 30.
  std::string dater() const;

 private:
  Source now_;
  bool started_ = false;
  long long first_day_ = 0;  ///< day number of the first reading
};

/// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
long long days_from_civil(int year, int month, int day);

}  // namespace quorvale
