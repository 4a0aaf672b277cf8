#pragma once
// quorvale-merge: joins the JSON results of the shards of a run (parameter
// word shard=K/N) into the document and the summaries one run over every
// replicate writes.

#include <iosfwd>
#include <string>
#include <vector>

namespace quorvale {

/// Runs quorvale-merge with the words after the program name: the shards'
/// JSON files, json=FILE for the merged document, l=FILE for the summaries
/// (standard output without it) and lines=N for their page length. Faults
/// go to `err` as "quorvale-merge: message". Returns the exit status: 0
/// done, 1 any fault.
int merge_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorvale
