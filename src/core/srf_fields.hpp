// The fields of an SRF file and their checks, behind <slipvel/srf.hpp>: for
// the readers and the rupture library, which check points and planes before
// anything is written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <slipvel/srf.hpp>

namespace slipvel::srf {

/// Throws ParameterError, one line per field, for every value of the point
/// whose printf text would be wider than its field in this version (or not a
/// finite number once in the file's units), slip1 and nt1 included; the
/// message names the value and the limit. put_point_text then writes every
/// line whole.
void check_point(const PointSource& point, Version version);

/// The same for the values of a point's first header line and its rake,
/// with samples `dt` apart (s): what depends on where the point is.
void check_where(const Point& where, double dt, Version version);

/// The same for slip1 and nt1: what depends on the point's function alone.
void check_slip_fields(const PointSource& point, Version version);

/// The same for a fault segment of the PLANE block.
void check_plane(const Plane& plane, Version version);

/// Returns the number of points in each POINTS block, in order (see
/// write_srf). Throws ParameterError (field "planes") when the planes do not
/// hold `points` in all.
std::vector<std::size_t> block_sizes(const std::vector<Plane>& planes, std::size_t points, const Layout& layout);

/// Returns the most characters the text of this point takes.
std::size_t point_text_capacity(const PointSource& point);

/// Writes the point's two header lines and its slip-rate samples, six per
/// line, at `out` (room for point_text_capacity(point) characters), and
/// returns the end. Throws ParameterError as check_point does.
char* put_point_text(char* out, const PointSource& point, Version version);

/// The same as a string of its own.
std::string point_text(const PointSource& point, Version version);

}  // namespace slipvel::srf
