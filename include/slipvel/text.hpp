// slipvel/text.hpp: the number text every table, file and message of the
// libraries uses for a value that must read back as it is.
//
// Each text is correctly rounded from the double's exact value, and the same
// on every machine.
//
// No function here throws anything but std::bad_alloc.
#pragma once

#include <string>

namespace slipvel::text {

/// Returns the shortest text that reads back to the same double ("0.1",
/// "1e-07"); non-finite values as "nan", "inf" and "-inf".
std::string shortest(double value);

}  // namespace slipvel::text
