#include <slipvel/slipvel.hpp>

#include <cstdio>

int main() {
  const slipvel::SlipFunction f = slipvel::slip_function({});
  const slipvel::Shape& s = f.shape;
  std::printf("%s td=%.9g am=%.9g tb=%.9g b=%.9g c=%.9g ar=%.9g eps=%.9g v(0.055)=%.9g\n", slipvel::version(), s.td,
              s.am, s.tb, s.b, s.c, s.ar, s.eps, f.velocity[11]);
  return slipvel::time_history_text(f).size() == 233516 ? 0 : 1;
}
