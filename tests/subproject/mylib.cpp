#include <slipvel/slipvel.hpp>

double final_slip_of_the_built_in_source() { return slipvel::slip_function({}).displacement.back(); }
