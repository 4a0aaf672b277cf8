#pragma once
// The CONSTRAINT block: parameters fixed, set equal, or bounded by constants
// or by other parameters, turned into the parameter map of the model store.

namespace quorvale {

struct ModelStore;
struct FitContext;

/// Sets the map before any constraint: the parameter arrays sized to NPAR,
/// every parameter free in its own slot, start value 0.5, bounds 0 and 1, NEST = NPAR.
void default_map(ModelStore& m);

/// Reads a CONSTRAINT block up to the next PROC, INITIAL or STRUCTURE statement and
/// renumbers the slots so that the free coordinates are slots 1..NEST.
void consrt(FitContext& run);

/// Renumbers a map built by parameter number: resolves chains of equalities
/// to their lowest-numbered member, moves the fixed constants behind the
/// free slots and closes the gaps left by equalities. Sets NEST, NEQUAL and
/// NFIXED from the map.
void renumber_map(ModelStore& m);

/// Undoes the renumbering: every parameter back in the slot of its own
/// number (equal parameters pointing at the lowest member of their group,
/// fixed ones at their own constant), so that a further block can add to it.
void unnumber_map(ModelStore& m);

}  // namespace quorvale
