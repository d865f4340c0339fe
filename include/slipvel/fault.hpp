// slipvel/fault.hpp: a characterized fault, as the rupture library reads it
// from its tables: rectangular segments end to end along strike, each with a
// background source, rectangular patches with sources of their own, a layered
// medium, a hypocentre and a rupture velocity.
//
// A place on a segment is (s, d): s along strike from the segment's centre
// (km, negative toward its start), d down dip from its top edge (km). The
// segments lie end to end, in table order, on one unfolded surface: (s, d)
// of segment k is at U = Σ_{m<k} len_m + len_k/2 + s along it and d down dip.
//
// Plain values; nothing here throws anything but std::bad_alloc.
#pragma once

#include <cstddef>
#include <optional>
#include <variant>
#include <vector>

namespace slipvel::rupture {

/// The source a region of the fault gives the subfaults whose centres lie in it.
struct RegionSource {
  double slip = 0;           ///< final slip (m); 0: the subfaults do not slip
  double vm = 0;             ///< peak slip velocity (m/s)
  double tr = 0;             ///< rise time (s)
  std::optional<double> ts;  ///< stopping time (s); unset: 1.5 × tr
  double rake = 0;           ///< degrees
};

/// A rectangular segment of the fault.
struct Segment {
  int line = 0;            ///< its row in the segments table (0: none)
  double elon, elat;       ///< centre of the top edge (degrees)
  double stk, dip;         ///< orientation (degrees); the fault dips to the right of strike
  double len, wid;         ///< length along strike and width down dip (km)
  double dtop;             ///< depth of the top edge (km)
  int nstk, ndip;          ///< subfaults along strike and down dip
  RegionSource source;     ///< the background
  double vs = 0, den = 0;  ///< shear-wave speed (m/s) and density (kg/m³); 0: not given
  /// Longitudes in [0, 360), as where the segments table gives any above
  /// 180; else in [−180, 180). One rule for every segment of a table.
  bool east_longitudes = false;
};

/// A rectangle of a segment with a source of its own.
struct Patch {
  int line = 0;           ///< its row in the patches table (0: none)
  std::size_t segment;    ///< index into the segments
  double s0, s1, d0, d1;  ///< s0 ≤ s < s1 and d0 ≤ d < d1 (km)
  RegionSource source;    ///< rake: the segment's where the table leaves it out
};

/// Where the rupture starts.
struct Hypocentre {
  std::size_t segment;  ///< index into the segments
  double s, d;          ///< km
};

/// A layer of a horizontally layered medium, from its top down to the next
/// layer's top (the last one without end).
struct Layer {
  int line = 0;  ///< its row in the medium table (0: none)
  double top;    ///< depth of its top (km)
  double vs;     ///< shear-wave speed (m/s)
  double den;    ///< density (kg/m³)
};

/// A layered medium: its layers by depth, the first at depth 0.
struct Medium {
  std::vector<Layer> layers;  ///< empty: no medium, every segment gives its own vs and den
  bool empty() const { return layers.empty(); }
  /// The layer holding `depth` (km); a depth on a boundary, or within 1e-9
  /// km of it (as rounding leaves a centre computed on one), is in the
  /// deeper layer. The medium must not be empty.
  const Layer& at(double depth) const;
};

/// A rupture velocity the same everywhere.
struct UniformSpeed {
  double km_per_s;  ///< finite, > 0
};

/// A rupture velocity that is a fraction of the local shear-wave speed: the
/// front bends with the medium.
struct FractionOfVs {
  double fraction;  ///< 0 < fraction ≤ 2
};

/// How fast the rupture front runs: one of the two.
using RuptureVelocity = std::variant<UniformSpeed, FractionOfVs>;

/// A characterized fault.
struct Fault {
  std::vector<Segment> segments;
  std::vector<Patch> patches;
  Hypocentre hypocentre{};
  RuptureVelocity velocity = UniformSpeed{1};
  /// Gives every subfault vs and den by the depth of its centre; empty: its segment's.
  Medium medium;
};

}  // namespace slipvel::rupture
