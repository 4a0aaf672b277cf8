// Error line of the numerical routines.

#include "estimate/numerr.h"

#include "listing/layout.h"
#include "listing/listing.h"

namespace quorvale {

void numerr(Listing& listing, int ier, std::string_view name) {
  static const Layout line("(23H0*** ERROR MESSAGE IER=,I3,14H FROM ROUTINE ,A)");
  listing.linchk(2);
  listing.put(line, {ier, name});
}

}  // namespace quorvale
