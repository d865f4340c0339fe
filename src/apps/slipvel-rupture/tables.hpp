// The tables slipvel-rupture writes for slipvel-batch: the points and the planes.
#pragma once

#include <string>
#include <vector>

#include <slipvel/rupture.hpp>
#include <slipvel/srf.hpp>

namespace slipvel::apps {

// The points table slipvel-batch --table FILE --srf reads: id, lon, lat, dep,
// stk, dip, rake, area, tinit, dt, nt, fmax, vm, slip, tr, ts (and vs, den
// when any segment gives them), every value in its shortest round-trip text,
// made on `jobs` threads.
std::string points_text(const rupture::Rupture& rupture, int jobs);

// The planes table slipvel-batch --planes reads.
std::string planes_text(const std::vector<srf::Plane>& planes);

}  // namespace slipvel::apps
