#include "driver/title.h"

#include <algorithm>

#include "model/context.h"
#include "input/fields.h"

namespace quorvale {

void title(ModelContext& run) {
  Status& s = run.status;
  std::string_view raw = run.instr.text(s.ISTART, s.IEND);
  std::size_t upper = raw.find("TITLE");
  std::size_t lower = raw.find("title");
  std::size_t first = std::min(upper, lower);
  // p is the position in the buffer of the keyword's first letter; without
  // the keyword in either spelling the text starts at the sixth character.
  int p = first == std::string_view::npos ? s.ISTART - 1 : s.ISTART + static_cast<int>(first);
  int from = p + 6;
  int to = std::min(s.IEND - 1, p + 95);
  run.listing.headst.TITLE = pad(run.instr.text(from, to), 90);
  run.reader.getcmd();
}

}  // namespace quorvale
