// What a routine that can fail gives back at its boundary: its boolean,
// the run-time error number where there is one, and the reason in words
// for the command-line tool. No exception crosses a routine's boundary.
#pragma once

#include <string>

#include "core/numeric.h"

namespace qv {

struct Outcome {
  bool ok = true;
  int err = 0;      // run-time error number; 0 when there is none
  std::string why;  // empty after a success

  explicit operator bool() const { return ok; }
  // The reason with its number, "erreur N : ...", for the tests and the
  // developer; the user reads it in words (OutcomeWords, core/error_words.h).
  std::string Text() const { return err != 0 ? "erreur " + std::to_string(err) + " : " + why : why; }
  static Outcome Success() { return {}; }
  static Outcome Failure(std::string reason, int number = 0) { return {false, number, std::move(reason)}; }
  static Outcome From(const RuntimeError& e) { return {false, e.Number(), e.what()}; }
  // The run-time error `number` in its own words; success for 0.
  static Outcome FromNumber(int number) { return number == 0 ? Success() : Outcome{false, number, ErrorText(number)}; }
};

}  // namespace qv
