#include "core/numeric.h"

#include <algorithm>
#include <cctype>
#include <cfenv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <locale.h>

namespace qv {

const char* ErrorText(int number) {
  switch (number) {
    case kErrOverflow:
      return "Dépassement de capacité";
    case kErrOutOfMemory:
      return "Mémoire insuffisante";
    case kErrSubscript:
      return "L'indice n'appartient pas à la sélection";
    case kErrDivisionByZero:
      return "Division par zéro";
    case kErrTypeMismatch:
      return "Type incompatible";
    case kErrBadFileName:
      return "Nom ou numéro de fichier incorrect";
    case kErrFileNotFound:
      return "Fichier introuvable";
    case kErrDiskFull:
      return "Disque plein";
    case kErrInputPastEnd:
      return "Fin de fichier";
    case kErrPermissionDenied:
      return "Permission refusée";
    case kErrPathAccess:
      return "Erreur d'accès au chemin/fichier";
    default:
      return "Erreur d'exécution";
  }
}

namespace {

// The "C" locale, made once; null when the system cannot make it (the
// scope then leaves the thread's locale as it is).
locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

}  // namespace

CNumberScope::CNumberScope() : previous_(CLocale() ? uselocale(CLocale()) : static_cast<locale_t>(nullptr)) {}

CNumberScope::~CNumberScope() {
  if (previous_) uselocale(static_cast<locale_t>(previous_));
}

namespace {

// strtod as the "C" locale reads: the point is the decimal sign.
double StrtodC(const std::string& text, char** end = nullptr) {
  const CNumberScope c;
  return std::strtod(text.c_str(), end);
}

// Decimal digits of |v| rounded to `sig` significant digits: returns the
// digit string and the decimal exponent of its first digit.
void SignificantDigits(double v, int sig, std::string& digits, int& exp10) {
  char buf[64];
  const CNumberScope c;
  std::snprintf(buf, sizeof buf, "%.*e", sig - 1, std::fabs(v));
  const char* e = std::strchr(buf, 'e');
  digits.clear();
  for (const char* p = buf; p < e; ++p)
    if (*p != '.') digits += *p;
  exp10 = std::atoi(e + 1);
}

// Text of v in the way of the program's number-to-text conversion: up to
// `sig` significant digits, trailing zeros dropped, scientific notation for
// very large or very small magnitudes ("1.5E+20", "1E-05").
std::string PlainNumber(double v, int sig, char decimal) {
  // Infinities and NaN have no text in the program's number forms.
  if (!std::isfinite(v)) Raise(kErrOverflow);
  if (v == 0) return "0";
  std::string digits;
  int e = 0;
  SignificantDigits(v, sig, digits, e);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = v < 0 ? "-" : "";
  if (e < -5 || e >= sig) {
    out += digits[0];
    if (digits.size() > 1) {
      out += decimal;
      out += digits.substr(1);
    }
    char eb[16];
    std::snprintf(eb, sizeof eb, "E%c%02d", e < 0 ? '-' : '+', std::abs(e));
    return out + eb;
  }
  if (e < 0) {
    out += '0';
    out += decimal;
    out += std::string(static_cast<size_t>(-e - 1), '0');
    return out + digits;
  }
  const size_t intDigits = static_cast<size_t>(e) + 1;
  if (digits.size() <= intDigits) return out + digits + std::string(intDigits - digits.size(), '0');
  return out + digits.substr(0, intDigits) + decimal + digits.substr(intDigits);
}

std::string StrForm(double v, int sig) {
  std::string s = PlainNumber(v, sig, '.');
  // No 0 before the point: "0.5" -> ".5", "-0.5" -> "-.5".
  if (s.rfind("0.", 0) == 0)
    s.erase(0, 1);
  else if (s.rfind("-0.", 0) == 0)
    s.erase(1, 1);
  if (s[0] != '-') s.insert(s.begin(), ' ');
  return s;
}

}  // namespace

void Raise(int number) { throw RuntimeError(number, ErrorText(number)); }

void Ignoring(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const RuntimeError&) {
  } catch (const std::exception&) {
  }
}

double Int(double v) { return std::floor(v); }

uint8_t CByte(double v) {
  const double r = RoundHalfEven(v);
  if (!(r >= 0.0 && r <= 255.0)) Raise(kErrOverflow);
  return static_cast<uint8_t>(r);
}

int32_t CheckedLong(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) Raise(kErrOverflow);
  return static_cast<int32_t>(v);
}

double Val(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::string num;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) num += text[i++];
  bool digits = false;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    num += text[i++];
    digits = true;
  }
  if (i < text.size() && text[i] == '.') {
    num += text[i++];
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      num += text[i++];
      digits = true;
    }
  }
  if (!digits) return 0.0;
  // An exponent counts only when at least one digit follows it.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    size_t j = i + 1;
    std::string ex = "e";
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ex += text[j++];
    bool expDigits = false;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
      ex += text[j++];
      expDigits = true;
    }
    if (expDigits) num += ex;
  }
  const double v = StrtodC(num);
  if (std::isinf(v)) Raise(kErrOverflow);
  return v;
}

bool DotNumber(std::string_view text, double& v) {
  if (text.empty() || text.find_first_of(",xXpP") != std::string_view::npos) return false;
  const std::string t(text);
  char* end = nullptr;
  v = StrtodC(t, &end);
  return end == t.c_str() + t.size() && std::isfinite(v) && !std::isspace(static_cast<unsigned char>(t[0]));
}

bool WholeDotNumber(std::string_view text, double lo, double hi, double& v) {
  return DotNumber(text, v) && v == std::floor(v) && v >= lo && v <= hi;
}

NumLocale NumLocale::FromEnvironment() {
  NumLocale loc = Dot();
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (std::setlocale(LC_NUMERIC, "")) {
    const lconv* lc = std::localeconv();
    if (lc->decimal_point && lc->decimal_point[0]) loc.decimal = lc->decimal_point[0];
    loc.group = (lc->thousands_sep && lc->thousands_sep[0]) ? lc->thousands_sep[0] : (loc.decimal == ',' ? ' ' : ',');
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
  return loc;
}

double LocaleToDouble(std::string_view text, const NumLocale& loc) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  std::string num;
  size_t i = b;
  if (i < e && (text[i] == '+' || text[i] == '-')) num += text[i++];
  bool digits = false, point = false;
  for (; i < e; ++i) {
    const char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      num += c;
      digits = true;
    } else if (c == loc.decimal && !point) {
      num += '.';
      point = true;
    } else if (c == loc.group && !point && digits && loc.group != loc.decimal)
      continue;
    else
      break;
  }
  if (!digits) Raise(kErrTypeMismatch);
  if (i < e && (text[i] == 'e' || text[i] == 'E')) {
    num += 'e';
    ++i;
    if (i < e && (text[i] == '+' || text[i] == '-')) num += text[i++];
    bool ed = false;
    while (i < e && std::isdigit(static_cast<unsigned char>(text[i]))) {
      num += text[i++];
      ed = true;
    }
    if (!ed) Raise(kErrTypeMismatch);
  }
  if (i != e) Raise(kErrTypeMismatch);
  const double v = StrtodC(num);
  if (std::isinf(v)) Raise(kErrOverflow);
  return v;
}

std::string LocaleFromDouble(double v, const NumLocale& loc) { return PlainNumber(v, 15, loc.decimal); }
std::string LocaleFromSingle(float v, const NumLocale& loc) { return PlainNumber(v, 7, loc.decimal); }

std::string Str(double v) { return StrForm(v, 15); }
std::string StrSingle(float v) { return StrForm(v, 7); }
std::string Str(int64_t v) {
  std::string t = std::to_string(v);
  if (v >= 0) t.insert(t.begin(), ' ');
  return t;
}

std::string FormatFixed1(double v, const NumLocale& loc) {
  // The digits are taken to 15 significant places first and then rounded
  // half away from zero, the way the program's Format does it, so 0.25
  // gives "0.3" and 0.15 gives "0.2".
  if (!std::isfinite(v)) return std::to_string(v);
  std::string digits;
  int e = 0;
  SignificantDigits(v, 15, digits, e);
  // Decimal digits up to the first decimal place, as text: the value can be
  // far beyond any integer type (a stored 1e20 shown as a percentage).
  const int keep = e + 2;  // digits before the point plus one after it
  std::string n;
  if (keep > 0) {
    for (int k = 0; k < keep; ++k) n += k < static_cast<int>(digits.size()) ? digits[k] : '0';
    if (keep < static_cast<int>(digits.size()) && digits[keep] >= '5') {
      size_t k = n.size();
      while (k > 0 && n[k - 1] == '9') n[--k] = '0';
      if (k == 0)
        n = '1' + n;
      else
        ++n[k - 1];
    }
  } else {
    n.assign(1, keep == 0 && digits[0] >= '5' ? '1' : '0');
  }
  if (n.size() < 2) n = '0' + n;
  const size_t lead = std::min(n.find_first_not_of('0'), n.size() - 2);
  std::string out = (v < 0 && n.find_first_not_of('0') != std::string::npos) ? "-" : "";
  out += n.substr(lead, n.size() - 1 - lead);
  out += loc.decimal;
  out += n.back();
  return out;
}

std::string FormatPercent(double v, const NumLocale& loc) { return FormatFixed1(v * 100.0, loc) + "%"; }

}  // namespace qv
