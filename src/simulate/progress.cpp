#include "simulate/progress.h"

#include <unistd.h>

#include <iostream>

namespace quorvale {

ProgressLine::~ProgressLine() {
  if (out_ == nullptr || shown_ == 0) return;
  *out_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
}

std::ostream* ProgressLine::terminal() { return isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr; }

void ProgressLine::show(int r, int n) {
  if (out_ == nullptr) return;
  const std::string text = " PROC SIMULATE: replicate " + std::to_string(r) + " of " + std::to_string(n);
  *out_ << '\r' << text;
  if (text.size() < shown_) *out_ << std::string(shown_ - text.size(), ' ');
  *out_ << std::flush;
  if (text.size() > shown_) shown_ = text.size();
}

}  // namespace quorvale
