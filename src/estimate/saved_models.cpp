#include "estimate/saved_models.h"

#include <algorithm>

#include "listing/layout.h"
#include "listing/listing.h"

namespace quorvale {

void SavedModels::open_row(Listing& listing) {
  static const Layout default_name("(8HSUBMODEL,I2)");
  ++NMOD;
  if (NMOD > MAXMOD) listing.error("Number of PROC ESTIMATE calls exceeds dimensions.");
  lnL(NMOD) = kOpenLogLikelihood;
  PG(NMOD) = 0.0;
  NDF(NMOD) = 0;
  NAMSAV(NMOD) = default_name.write_internal({NMOD}, 20);
  full_name(NMOD).clear();
  unsound(NMOD) = 0;
}

bool valid_model_record(double lnL, int K, int NDF, int DFC) { return lnL <= 0.0 && K >= 0 && NDF >= 0 && DFC >= 0; }

void EstimatesFile::write(int row, std::span<const double> values) {
  if (row < 1) return;
  if (records_.size() < static_cast<std::size_t>(row)) records_.resize(static_cast<std::size_t>(row));
  records_[static_cast<std::size_t>(row - 1)] = std::vector<double>(values.begin(), values.end());
}

bool EstimatesFile::read(int row, std::span<double> out) const {
  if (row < 1 || static_cast<std::size_t>(row) > records_.size()) return false;
  const auto& record = records_[static_cast<std::size_t>(row - 1)];
  if (!record || record->size() < out.size()) return false;
  std::copy_n(record->begin(), out.size(), out.begin());
  return true;
}

}  // namespace quorvale
