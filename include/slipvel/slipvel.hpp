// slipvel: the slip-velocity time function of one point of an earthquake fault
// (the rate of slip against time), its slip and slip acceleration histories and
// its amplitude spectra, for any source.
//
// The function has four stages: a parabola up to the onset tb, an inverse square
// root up to the rise time tr, a linear decay to 0 at the stopping time ts, then
// rest. An onset search finds the tb at which the function carries the target
// slip. Every value is computed exactly as the `slipvel` program computes it,
// to the last bit, and the two texts are the bytes that program writes.
//
// Example:
//
//   slipvel::Parameters p;               // the program's built-in source
//   p.vm = 3.0;                          // peak slip velocity, m/s
//   p.slip = 0.8;                        // final slip, m
//   const slipvel::SlipFunction f = slipvel::slip_function(p);
//   double v = f.velocity[100];          // m/s at f.time[100] s
//   std::string slip_csv = slipvel::time_history_text(f);
//   std::string amp_csv = slipvel::spectrum_text(slipvel::spectrum(f));
//
// Every function here may be called from several threads at once: none keeps
// state between calls.
//
// Functions that throw say so; the others throw nothing but std::bad_alloc.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <slipvel/diagnostic.hpp>

namespace slipvel {

/// The circle constant of the function and its spectrum, as the `slipvel`
/// program has always formed them (not π to double precision: every bit of
/// the results depends on it).
inline constexpr double kPai = 3.141592654;

/// The most samples a record may have.
inline constexpr int kLargestNt = 4194304;

/// The source. Default-constructed it is the `slipvel` program's built-in one.
struct Parameters {
  double dt = 0.005;         ///< time step (s): finite, > 0; the record (nt − 1)·dt must reach ts
  int nt = 4096;             ///< number of samples: a power of two from 2 to 4194304
  double fmax = 6.0;         ///< highest frequency (Hz): finite, > 0; sets td = 1/(kPai·fmax)
  double vm = 4.092;         ///< peak slip velocity of the parabolic stage (m/s): finite, > 0
  double slip = 1.0;         ///< target final slip (m): one the function carries (see slip_function)
  double tr = 2.114;         ///< rise time, end of the inverse-square-root stage (s): finite, > 1.01·td
  std::optional<double> ts;  ///< stopping time, end of the linear stage (s): finite, > tr;
                             ///< unset means tr × 1.5
};

/// One problem with one value: the parameter or field it is about and the
/// whole line that says what is wrong.
struct Problem {
  Problem() = default;
  Problem(std::string field, std::string text) : field(std::move(field)), text(std::move(text)) {}

  std::string field;  ///< the value's name: "slip", "dt", "vs", ...
  std::string text;   ///< the line, "name = value: rule"
  friend bool operator==(const Problem&, const Problem&) = default;
};

/// Asked between the pieces of a long computation (a chunk of points, a
/// stretch of the front march) whether to stop, from the thread that started
/// it alone, so it may do what that thread may (an interpreter's check for a
/// signal); true stops the computation with Stopped. Empty: never asked.
using StopRequest = std::function<bool()>;

/// Thrown by a computation stopped on request (StopRequest): it kept nothing
/// and wrote nothing more.
class Stopped : public std::runtime_error {
 public:
  Stopped() : std::runtime_error("stopped on request") {}
};

/// Thrown for values that cannot work. problems() lists each problem with the
/// name of the value it is about; what() is their texts joined, one a line,
/// in the order dt, nt, fmax, vm, slip, tr, ts for a source's parameters.
/// diagnostics() gives the same as Diagnostic values: where each problem is
/// (a table's line, an option), its field and text.
class ParameterError : public std::invalid_argument {
 public:
  /// One problem or several (at least one), about no place in particular.
  explicit ParameterError(std::vector<Problem> problems);
  explicit ParameterError(Problem problem);
  /// Diagnostics (at least one); each problem's text is its rendered() line.
  explicit ParameterError(std::vector<Diagnostic> diagnostics);

  /// The problems, in the order what() gives them.
  const std::vector<Problem>& problems() const noexcept { return found_->problems; }
  /// The same problems as diagnostics, in the same order.
  const std::vector<Diagnostic>& diagnostics() const noexcept { return found_->diagnostics; }

 private:
  struct Found {
    std::vector<Problem> problems;
    std::vector<Diagnostic> diagnostics;
  };
  std::shared_ptr<const Found> found_;  // shared: copying an exception never throws
};

/// The shape of the function, derived by the onset search.
struct Shape {
  double td;   ///< time of the peak slip velocity, peak_time(fmax) (s)
  double am;   ///< slip acceleration at t = 0, 2·vm/td (m/s²)
  double tb;   ///< onset of the inverse-square-root stage (s)
  double b;    ///< amplitude of the inverse-square-root stage (m·s^−1/2)
  double c;    ///< slip velocity at tr, where the linear stage starts (m/s)
  double ar;   ///< fall rate of the linear stage, c/(ts − tr) (m/s²)
  double eps;  ///< time origin of the inverse-square-root stage (s)
};

/// The function sampled at nt times: the four columns of the time-history file.
struct SlipFunction {
  Parameters parameters;             ///< the source, with ts always set
  Shape shape;                       ///< the shape the search found
  std::vector<double> time;          ///< sample times k·dt (s)
  std::vector<double> velocity;      ///< slip velocity (m/s)
  std::vector<double> displacement;  ///< slip, a running trapezoid sum of velocity·dt (m)
  std::vector<double> acceleration;  ///< slip acceleration, the backward difference (m/s²); 0 first
};

/// Amplitude spectra at the frequencies 1/(nt·dt) to (nt/2 − 1)/(nt·dt): the
/// rows of the spectrum file. Frequency 0 is not included.
struct Spectrum {
  std::vector<double> frequency;     ///< frequency (Hz)
  std::vector<double> velocity;      ///< dt·|X(f)|, X the forward transform of the velocity (m)
  std::vector<double> acceleration;  ///< velocity amplitude × 2π·f (m/s)
};

/// Returns td, the time of the peak slip velocity (s), 1/(kPai·fmax) for
/// `fmax` in Hz. Throws nothing.
double peak_time(double fmax);

/// Returns the stopping time (s): `ts` as given, or tr × 1.5. Throws nothing.
double stopping_time(const Parameters& parameters);

/// Returns the source on the shortest power-of-two record (at most its own nt)
/// that holds every sample up to the first at rest after ts. Samples do not
/// depend on the record's length, so these are the very samples of the whole
/// record, for less work where the tail of zeros is not needed. Throws
/// nothing; the parameters are not checked.
Parameters shortened_record(const Parameters& parameters);

/// Checks `parameters`, runs the onset search and samples the function.
/// Throws ParameterError listing every problem, including a target slip the
/// function does not carry for the other parameters. A slip is carried when it
/// is at most the slip at the search's first onset 1.01·td (larger ones are
/// refused before searching) and the search gives a sound function (every
/// value finite, none below 0, none above vm) whose whole slip S(ts) is within
/// 1 % of the target, from a last bracket whose two ends' slips are within
/// 0.9 % of each other. The message gives exactly the carried slips (saying so
/// when they are not one interval, or none) and the vm range that carries the
/// target slip. Throws std::bad_alloc when the nt samples do not fit in memory.
SlipFunction slip_function(const Parameters& parameters);

/// Checks `parameters` as slip_function does and returns the shape its onset
/// search finds, without sampling anything. Throws ParameterError.
Shape find_shape(const Parameters& parameters);

/// S(t): the slip (m) the function of this shape carries from time 0 to time
/// `t` (s), the exact integral of the function as it is sampled: the parabola
/// up to tb, the inverse square root up to tr, the linear stage up to ts, and
/// S(ts) after. S(t) = 0 for t <= 0. S(ts), the function's whole slip, lies
/// within 1 % of the target slip (see slip_function). `parameters` gives
/// tr and ts (unset: tr × 1.5), as for the shape. Throws nothing; a t that is
/// not a number gives not a number.
double slip_until(const Shape& shape, const Parameters& parameters, double t);

/// S(t) at many times: fills slips[k] with slip_until(shape, parameters,
/// times[k]), the same bits, working out what does not depend on t once
/// rather than for every time (a slip history of a million times costs a
/// fraction of a million single calls). `slips` may be `times` itself. Throws
/// std::length_error, having written nothing, when `slips` holds fewer values
/// than `times`.
void slip_until(const Shape& shape, const Parameters& parameters, std::span<const double> times,
                std::span<double> slips);

// Sampling that falls short of the source. Neither is a refusal: the function
// is computed and its files written all the same, but the samples do not show
// it as it is meant, so the programs and the Python module warn, by these
// rules and with these figures.

/// How far the sampled slip (the last value of SlipFunction::displacement) may
/// end from the target slip, as a share of the target: 1 %.
inline constexpr double kSampledSlipTolerance = 0.01;

/// Returns the Nyquist frequency 1/(2·dt) (Hz) of samples `dt` (s) apart: the
/// highest frequency they can show. Throws nothing; dt is not checked.
double nyquist_frequency(double dt);

/// Whether fmax (Hz) lies above the Nyquist frequency of dt: the samples are
/// too far apart for the highest frequencies the function is meant to have
/// (its rise to the peak at td = 1/(kPai·fmax) takes less than a sample). A
/// dt of at most 1/(2·fmax) avoids it. Throws nothing; the parameters are not
/// checked.
bool above_nyquist(const Parameters& parameters);

/// What samples above the Nyquist frequency cost, as every warning of it
/// ends: the samples miss the function's highest frequencies, and a reader
/// that interpolates them with a spline (as SW4 does) radiates more moment
/// than they carry (measured through SW4's quintic spline: +4 to +15 % at
/// dt 0.1 s with fmax 6 Hz, within 1 % at dt 0.05 s or less).
inline constexpr const char* kAboveNyquistCost =
    "the samples are too far apart to show the function's highest frequencies, and a reader that interpolates "
    "them with a spline (as SW4 does) radiates more moment than they carry (+4 to +15 % at dt 0.1 s with fmax 6 "
    "Hz; within 1 % at dt 0.05 s or less); a dt of at most 1/(2*fmax), or a lower fmax, fixes it";

/// Whether the function's sampled slip ends more than kSampledSlipTolerance
/// of the target slip away from it (not a number counts as away): at this dt
/// the trapezoid sum of the samples misses part of the sharp rise, though the
/// function itself carries the target (see slip_function); a smaller dt fixes
/// it. False for a function without samples. Throws nothing.
bool coarsely_sampled(const SlipFunction& function);

/// Throws the ParameterError that slip_function(parameters) would throw, and
/// returns if it would not; it runs the onset search but samples nothing.
void check_parameters(const Parameters& parameters);

/// The frequency grid of the spectrum of a record of nt samples at dt (the
/// report's DUR, DOM, NOM and EOM).
struct SpectrumGrid {
  double record_length;  ///< nt·dt (s)
  double angular_step;   ///< 2·kPai/record_length (rad/s)
  int nyquist_index;     ///< nt/2, the index of the Nyquist frequency; the rows are 1 … nyquist_index − 1
  double nyquist_angular_frequency;  ///< nyquist_index·angular_step (rad/s)
};

/// Returns the grid of the spectrum of `nt` samples `dt` apart (dt in s).
/// Throws nothing; the values are not checked.
SpectrumGrid spectrum_grid(double dt, int nt);

/// Transforms the velocity history (forward, with the circle constant kPai,
/// conjugated and scaled by dt) and returns nt/2 − 1 rows of amplitudes.
/// Throws ParameterError (field "nt") when the history's length is not a power
/// of two from 1 to kLargestNt.
Spectrum spectrum(const SlipFunction& function);

/// Returns exactly what `slipvel` writes to Vek_Slip.csv for this source.
/// Throws ParameterError when a row would not fit the file's fixed columns
/// (times of 1000 s or more, dt below 0.0001 s, values too wide).
std::string time_history_text(const SlipFunction& function);

/// Returns exactly what `slipvel` writes to Vek_Amp.csv for this spectrum.
/// Throws ParameterError when a frequency would not fit the file's column
/// (1000 Hz or more) or two rows would show the same frequency.
std::string spectrum_text(const Spectrum& spectrum);

/// Throws the ParameterError that time_history_text(function), or spectrum_text
/// of its spectrum, would throw, without building either text or the spectrum:
/// a check for every source of a batch before the first file is written.
void check_texts(const SlipFunction& function);

/// Throws what slip_function(parameters) and then check_texts of that function
/// would throw, and returns if neither would; cheaper, as it samples only up
/// to the end of the slip.
void check_texts(const Parameters& parameters);

/// Returns the library's version, "major.minor.patch". Throws nothing.
const char* version();

}  // namespace slipvel
