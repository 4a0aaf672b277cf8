#pragma once
// The identity of the data PROC MODEL read: what tells the results of one
// data set from those of another.

#include <string>

namespace quorvale {

struct ModelStore;

/// "data C T H": the number of cohorts C, the total T of the cohort sizes and
/// a checksum H (FNV-1a of 32 bits, 8 hexadecimal digits) of the cohort sizes,
/// their numbers of classes and the cell counts.
std::string data_identity(const ModelStore& m);

}  // namespace quorvale
