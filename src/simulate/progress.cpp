#include "simulate/progress.h"

#include <string>

#include "listing/listing.h"

namespace quorvale {

ProgressLine::ProgressLine(Listing& listing)
    : listing_(listing.err_terminal() ? &listing : nullptr) {}

ProgressLine::~ProgressLine() {
  if (listing_ == nullptr || shown_ == 0) return;
  listing_->err_text('\r' + std::string(shown_, ' ') + '\r');
}

void ProgressLine::show(int r, int n) {
  if (listing_ == nullptr) return;
  const std::string text = " PROC SIMULATE: replicate " + std::to_string(r) + " of " + std::to_string(n);
  std::string line = '\r' + text;
  if (text.size() < shown_) line.append(shown_ - text.size(), ' ');
  listing_->err_text(line);
  if (text.size() > shown_) shown_ = text.size();
}

}  // namespace quorvale
