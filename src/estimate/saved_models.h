#pragma once
// The saved-model table of the current model sequence, and the estimates
// file that keeps each row's natural-scale estimates for RETAIN.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/arrays.h"
#include "base/limits.h"

namespace quorvale {

class Listing;

/// Log-likelihood of a row while its fit is open: -1.0E20 held in single precision.
inline constexpr double kOpenLogLikelihood = static_cast<double>(-1.0E20F);

/// One row per fit of the current sequence: names, log-likelihoods and deviances.
struct SavedModels {
  int NMOD = 0;                                               ///< rows in use
  Vec1<std::string> NAMSAV{MAXMOD, std::string(20, ' ')};     ///< model name (20 characters)
  Vec1<double> lnL{MAXMOD};   ///< maximised log-likelihood
  Vec1<double> G{MAXMOD};     ///< G goodness-of-fit statistic
  Vec1<double> PG{MAXMOD};    ///< probability of a larger chi-square than G
  Vec1<int> NDF{MAXMOD};      ///< degrees of freedom of G
  Vec1<int> K{MAXMOD};        ///< number of estimated parameters
  Vec1<int> DFC{MAXMOD};      ///< degrees of freedom used for the overdispersion factor
  Vec1<std::string> full_name{MAXMOD};  ///< the name as typed, for the result files
  Vec1<int> unsound{MAXMOD};  ///< 1 when the fit rests on an impossible point (see FitReport::sound)

  /// Opens the next row with its open values and default name; a 31st row is fatal.
  void open_row(Listing& listing);
  /// Empties the table: the next fit starts again at row 1.
  void reset() { NMOD = 0; }
};

/// A record of the model file that its reader accepts: a log-likelihood
/// not above 0 and no negative count. The writer writes no other record.
bool valid_model_record(double lnL, int K, int NDF, int DFC);

/// The estimates of each row of the sequence, S(1..NPAR) by row number. It
/// lives for the run only, like a scratch file with no name.
class EstimatesFile {
 public:
  /// Deletes every record and starts an empty file.
  void recreate() { records_.clear(); }
  /// Writes record `row` (1-based) with the values given.
  void write(int row, std::span<const double> values);
  /// Reads record `row` into `out` (as many values as it has room for);
  /// false when the record was never written or is shorter than asked.
  bool read(int row, std::span<double> out) const;

 private:
  std::vector<std::optional<std::vector<double>>> records_;
};

}  // namespace quorvale
