// Numeric conventions shared by every routine: rounding, checked integer
// conversions, the leading-number parse and the number-to-text forms.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qv {

// A run-time error of the program. Routines throw it inside their body and
// catch it at their boundary, where they run their closing code and report
// failure; it never crosses a routine's boundary.
class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, const std::string& what) : std::runtime_error(what), number_(number) {}
  int Number() const { return number_; }

 private:
  int number_;
};

// Error numbers used by the program.
enum ErrorNumber : int {
  kErrInvalidCall = 5,  // the logarithm of a number that is not positive
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,
  kErrDivisionByZero = 11,
  kErrTypeMismatch = 13,
  kErrFileNotFound = 53,
  kErrBadFileName = 52,
  kErrFileAlreadyExists = 58,  // a save that must not replace a file found one there
  kErrDiskFull = 61,
  kErrInputPastEnd = 62,
  kErrPermissionDenied = 70,
  kErrPathAccess = 75,
  // The window's controls, which a project's value can also meet: an element
  // of a control array that does not exist (a guide box past "Aucun"), and
  // a value outside a control's range (a slider outside 0..20).
  kErrNoSuchControl = 340,
  kErrInvalidPropertyValue = 380,
};

// The words of a run-time error number.
const char* ErrorText(int number);

[[noreturn]] void Raise(int number);

// Runs one statement of a handler that goes on with its next statement when
// one fails: the statement's run-time error (or lack of memory) is dropped.
void Ignoring(const std::function<void()>& statement);

// Nearest integer value, halves to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
// Inline, since the pixel loops call it for every pixel: below 2^52 adding
// and taking away 2^52 rounds in the round-to-nearest-even mode the program
// never leaves (the sign put back keeps -0.3 -> -0); from 2^52 on, and for
// NaN and infinities, the value is its own rounding.
inline double RoundHalfEven(double v) {
  constexpr double kTwo52 = 4503599627370496.0;
  const double a = std::fabs(v);
  if (!(a < kTwo52)) return v;
  return std::copysign((a + kTwo52) - kTwo52, v);
}
// Largest integer value not above v (Int: -1.5 -> -2).
double Int(double v);

// Checked conversions: round half to even, then raise an overflow error when
// the value does not fit (NaN does not fit anywhere).
inline int16_t CInt(double v) {
  const double r = RoundHalfEven(v);
  if (!(r >= -32768.0 && r <= 32767.0)) Raise(kErrOverflow);
  return static_cast<int16_t>(r);
}
uint8_t CByte(double v);
// Checked narrowing of an integer result (Long arithmetic overflow).
int32_t CheckedLong(int64_t v);
// CLng for loops that note an overflow rather than raise it: false, and
// `out` unchanged, when the value does not fit.
inline bool TryCLng(double v, int32_t& out) {
  const double r = RoundHalfEven(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) return false;
  out = static_cast<int32_t>(r);
  return true;
}
inline int32_t CLng(double v) {
  int32_t r = 0;
  if (!TryCLng(v, r)) Raise(kErrOverflow);
  return r;
}

// The leading-number parse: leading blanks and tabs skipped, "." as decimal
// point, an optional exponent; reading stops at the first character that
// cannot continue a number; no number gives 0.
double Val(std::string_view text);

// A typed value of the command line: the whole text is one finite number
// with "." as decimal point, in decimal ("nan", "inf", "0x10", "2,5", "5px"
// and a number too large for a double are refused). Val would read these as
// 0, 5 or an overflow, which a user never meant.
bool DotNumber(std::string_view text, double& v);
// The same, for a whole number from lo to hi.
bool WholeDotNumber(std::string_view text, double lo, double hi, double& v);

// The C library's conversions of numbers follow the locale of the process,
// which the window toolkit takes from the user's environment at start (a
// comma in French): with it, "%e" wrote "5,000e+01" and strtod stopped at
// the point of "0.75". The program's own conversions run under this scope,
// which gives this thread the "C" locale until it ends; the user's decimal
// sign is applied by the program itself (NumLocale below).
class CNumberScope {
 public:
  CNumberScope();
  ~CNumberScope();
  CNumberScope(const CNumberScope&) = delete;
  CNumberScope& operator=(const CNumberScope&) = delete;

 private:
  void* previous_;
};

// Number conventions of the user's locale.
struct NumLocale {
  char decimal = '.';
  char group = ',';
  static NumLocale Dot() { return {'.', ','}; }
  static NumLocale Comma() { return {',', ' '}; }
  // The locale of the process environment (LC_NUMERIC).
  static NumLocale FromEnvironment();
};

// Locale-aware text to number: blanks around the number allowed, group
// separators ignored in the integer part, the locale's decimal separator,
// an optional exponent. Anything else is a type-mismatch run-time error.
double LocaleToDouble(std::string_view text, const NumLocale& loc);
// Locale-aware number to text: the shortest form that reads back to the same
// value (up to 15 significant digits, 7 for singles), no group separators.
std::string LocaleFromDouble(double v, const NumLocale& loc);
std::string LocaleFromSingle(float v, const NumLocale& loc);

// Str: a leading blank for a non-negative number ("-" otherwise), "." as
// decimal point, no 0 before the point, at most 15 (double) or 7 (single)
// significant digits, no trailing zeros or point.
std::string Str(double v);
std::string StrSingle(float v);
std::string Str(int64_t v);

// Format(v, "0.0%") with the locale's decimal separator.
std::string FormatPercent(double v, const NumLocale& loc);
// Format(v, "0.0") with the locale's decimal separator.
std::string FormatFixed1(double v, const NumLocale& loc);

}  // namespace qv
