// The options of the sanitizers, built into every program of the sanitizer
// build. Options given in ASAN_OPTIONS, UBSAN_OPTIONS or LSAN_OPTIONS are
// read after these and win.

extern "C" {

// Any report ends the process, with an exit status of its own: a test that
// expects the tool to fail with status 1 must not take a sanitizer's report
// for that failure.
const char* __asan_default_options() {
  return "halt_on_error=1:exitcode=86:detect_leaks=1:"
         "check_initialization_order=1";
}

const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1:exitcode=86"; }

// Leaks of the system libraries (Qt's plugins, fontconfig, FreeImage's
// plugin table) are theirs, not ours; the file lists them.
const char* __lsan_default_options() { return "suppressions=" QUELVISTA_LSAN_SUPPRESSIONS ":print_suppressions=0"; }

}  // extern "C"
