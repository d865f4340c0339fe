// The tables slipvel-rupture writes for slipvel-batch: the points and the planes.
#pragma once

#include <string>
#include <vector>

#include <slipvel/rupture.hpp>
#include <slipvel/srf.hpp>

#include "common/atomic_file.hpp"

namespace slipvel::apps {

// Writes the points table slipvel-batch --table FILE --srf reads: id, lon,
// lat, dep, stk, dip, rake, area, tinit, dt, nt, fmax, vm, slip, tr, ts (and
// vs, den when a medium or any segment gives them), every value in its
// shortest round-trip text, made on `jobs` threads a bounded chunk at a time.
void write_points(const rupture::Rupture& rupture, AtomicFile& file, int jobs);

// The planes table slipvel-batch --planes reads.
std::string planes_text(const std::vector<srf::Plane>& planes);

}  // namespace slipvel::apps
