// The subfaults of a characterized fault as the points of one rupture: where
// each is, its area, when the rupture front reaches it and its source.
//
// The segments lie end to end along strike, in table order, on one unfolded
// surface: a place (s, d) of segment k is at U = Σ_{m<k} len_m + len_k/2 + s
// along it, and d down dip from its own segment's top edge. The front leaves
// the hypocentre at t = 0 and spreads over that surface at the rupture velocity.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <slipvel/slipvel.hpp>
#include <slipvel/srf.hpp>

#include "common/table.hpp"
#include "fault.hpp"

namespace slipvel::apps {

struct Fault {
  std::vector<Segment> segments;
  std::vector<Patch> patches;
  Hypocentre hypocentre;
  double vr = 0;  // rupture velocity (km/s)
};

// Subfault (i, j) of a segment: i = 0…nstk−1 along strike, j = 0…ndip−1 down dip.
struct Subfault {
  std::size_t segment;
  int i, j;
  std::optional<std::size_t> patch;  // the patch its centre lies in; none: the segment's background
};

struct Rupture {
  // In the file's order: segment after segment, row after row down dip, i fastest.
  std::vector<Subfault> subfaults;
  // The same order, as rows of a points table: id "<segment>-<i>-<j>" (segment
  // from 1), the source, and the point columns lon, lat, dep, stk, dip, rake,
  // area, tinit, vs, den (vs and den 0 where the segment gives none).
  std::vector<Source> points;
  std::vector<srf::Plane> planes;  // one per segment, its hypocentre the rupture's
};

// U of segment k's centre on the unfolded fault (km).
double centre_u(const std::vector<Segment>& segments, std::size_t k);

// Lays out every subfault on `jobs` threads. `sampling` gives every source its
// dt, nt and fmax; the rest comes from the subfault's region. A row of the
// points holds its subfault's index + 1 as its line.
Rupture lay_out(const Fault& fault, const Parameters& sampling, int jobs);

// Each segment's PLANE values that do not fit their fields in the file, as
// problems of the segment's line.
std::vector<TableProblem> check_planes(const Rupture& rupture, const Fault& fault, srf::Version version);

// The problems of the points (by subfault index + 1), as problems of the
// segments' and the patches' lines: each names the first subfault it hits
// and how many more of the same region it hits.
struct FaultProblems {
  std::vector<TableProblem> segments, patches;
};
FaultProblems problems_by_region(const Rupture& rupture, const Fault& fault, const std::vector<TableProblem>& points);

// The patches whose region holds no subfault's centre.
std::vector<const Patch*> empty_patches(const Rupture& rupture, const Fault& fault);

// For each of `patches` (that hold no subfault's centre), a point that stands
// in for it: its segment's first subfault with the patch's source and rake,
// so that the patch's values are checked as a subfault's would be. A point's
// line is its index in `patches` + 1.
std::vector<Source> stand_ins(const Rupture& rupture, const std::vector<const Patch*>& patches,
                              const Parameters& sampling);

// A segment whose top edge starts farther than a subfault's length from
// where the one before it ends: its rupture times still take the two as
// joined.
struct Gap {
  std::size_t segment;  // index of the later segment
  double km;            // between the one's end and the other's start
};
std::vector<Gap> gaps_between_segments(const Fault& fault);

// The points table slipvel-batch --srf reads, every value in its shortest
// round-trip text; with vs and den columns when any segment gives them.
std::string points_text(const Rupture& rupture, int jobs);

// The planes table slipvel-batch --planes reads.
std::string planes_text(const std::vector<srf::Plane>& planes);

}  // namespace slipvel::apps
