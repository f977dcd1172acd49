// Qt's font database keeps fontconfig objects for the life of the process; LeakSanitizer sees
// them as leaks of any binary that lays out text. Not ours: leave them out of the report. One
// definition for the whole window test program.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
