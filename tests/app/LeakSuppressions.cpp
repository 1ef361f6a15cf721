// fontconfig keeps its configuration for the life of the process; under the
// leak checker of sanitizer builds that shows up as a leak of every widget
// test. Only that library is excused.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
