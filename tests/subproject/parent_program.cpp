#include <cstdio>

double final_slip_of_the_built_in_source();

int main() { std::printf("%.4f\n", final_slip_of_the_built_in_source()); }
