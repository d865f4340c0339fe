// A characterized fault as slipvel-rupture reads it: rectangular segments
// laid end to end along strike, each with a background source, rectangular
// patches (asperities) with sources of their own, and a hypocentre.
//
// A place on a segment is (s, d): s along strike from the segment's centre
// (km, negative toward its start), d down dip from its top edge (km).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <slipvel/srf.hpp>

#include "common/table.hpp"

namespace slipvel::apps {

// The source a region of the fault gives the subfaults whose centres lie in it.
struct RegionSource {
  double slip = 0;           // final slip (m); 0: the subfaults do not slip
  double vm = 0;             // peak slip velocity (m/s)
  double tr = 0;             // rise time (s)
  std::optional<double> ts;  // stopping time (s); unset: 1.5 × tr
  double rake = 0;           // degrees
};

struct Segment {
  int line = 0;            // in the segments table
  double elon, elat;       // centre of the top edge (degrees)
  double stk, dip;         // orientation (degrees)
  double len, wid;         // length along strike and width down dip (km)
  double dtop;             // depth of the top edge (km)
  int nstk, ndip;          // subfaults along strike and down dip
  RegionSource source;     // the background
  double vs = 0, den = 0;  // shear-wave speed (m/s) and density (kg/m³); 0: not given
};

struct Patch {
  int line = 0;           // in the patches table
  std::size_t segment;    // index into the segments
  double s0, s1, d0, d1;  // s0 ≤ s < s1 and d0 ≤ d < d1 (km)
  RegionSource source;    // rake: the segment's where the row leaves it out
};

struct Hypocentre {
  std::size_t segment;  // index into the segments
  double s, d;          // km
};

// The most subfaults a rupture may have.
inline constexpr long long kMostSubfaults = 10'000'000;

struct SegmentsTable {
  std::vector<Segment> segments;
  std::vector<TableProblem> problems;  // in line order; the table is usable only without any
};

// Reads the segments table: a header naming elon, elat, stk, dip, len, wid,
// dtop, nstk, ndip, rake, slip, vm, tr and optionally ts, vs and den, then one
// segment per row. SRF 2.0 needs vs and den on every row; otherwise a row
// gives both or neither.
SegmentsTable read_segments(std::string_view text, srf::Version version);

struct PatchesTable {
  std::vector<Patch> patches;
  std::vector<TableProblem> problems;
};

// Reads the patches table: a header naming segment (row number in the
// segments table, from 1), s0, s1, d0, d1, slip, vm, tr and optionally ts and
// rake. A patch must lie wholly inside its segment and overlap no other
// patch; an overlap names both lines (`name` is how messages call the table).
PatchesTable read_patches(std::string_view text, const std::vector<Segment>& segments, const std::string& name);

// Reads "SEG:S:D" (segment number from 1, s and d in km): a hypocentre on the
// segment (|s| ≤ len/2, 0 ≤ d ≤ wid), or what is wrong with the text.
std::variant<Hypocentre, std::string> read_hypocentre(std::string_view text, const std::vector<Segment>& segments);

}  // namespace slipvel::apps
