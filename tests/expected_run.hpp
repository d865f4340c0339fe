// What the built-in run prints and writes, as its users rely on it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace slipvel::testing {

inline const std::string kConsoleReport =
    "\n"
    " dt,nt =   0.005 4096\n"
    " fmax,vm,slip =   6.  4.092  1.\n"
    " td,tr,ts=  0.0530516477  2.114  3.171\n"
    " Am,tb,b,c,ar,eps =  154.264766  0.088203027  0.243249097  0.170432712\n"
    "  0.161241923  0.0769740377\n"
    "\n"
    "  Slip functions are stored in Vek_Slip.csv\n"
    "  Fourier spectrum is stored in Vek_Amp.csv\n"
    "\n"
    "  DUR,DOM,NOM,EOM=  20.48  0.306796158 2048  628.318531\n"
    "  Highest Frequency (hz)=  100.\n"
    "\n"
    " Hit any key to stop\n";

// Console lines up to the announcement of both files, before any file is written.
inline const std::string kReportBeforeFiles = kConsoleReport.substr(0, kConsoleReport.find("\n\n  DUR") + 1);

// (line number in the file, line) pairs; line 1 is the header.
inline const std::vector<std::pair<int, std::string>> kTimeHistoryLines = {
    {1, " time(s),velocity,displacement,acceleration"},
    {2, "  0.0000,      0.0000000,      0.0000000,      0.0000000"},
    {3, "  0.0050,      0.7349760,      0.0018374,    146.9952099"},
    {13, "  0.0550,      4.0864808,      0.1523608,      1.6040935"},
    {20, "  0.0900,      2.1313086,      0.2709871,    -95.3376729"},
    {425, "  2.1150,      0.1702715,      0.9101531,     -0.0657647"},
    {637, "  3.1750,      0.0000000,      1.0000567,     -0.0322484"},
    {4097, " 20.4750,      0.0000000,      1.0000567,      0.0000000"},
};

// Row io is line io of the file: the header is line 1 and rows start at io = 2.
inline const std::vector<std::pair<int, std::string>> kSpectrumLines = {
    {1, " freq(Hz),abs(vel),abs(acc)"},           {2, "  0.0488,  0.9706E+00,  0.2978E+00"},
    {3, "  0.0977,  0.8871E+00,  0.5443E+00"},    {21, "  0.9766,  0.3406E+00,  0.2090E+01"},
    {205, "  9.9609,  0.6692E-01,  0.4188E+01"},  {1024, " 49.9512,  0.1581E-02,  0.4962E+00"},
    {2048, " 99.9512,  0.1084E-02,  0.6810E+00"},
};

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));  // unterminated tail
  return lines;
}

}  // namespace slipvel::testing
