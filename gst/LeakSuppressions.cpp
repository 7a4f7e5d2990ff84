// Leak-checker settings for programs that run GStreamer (framegrab and the
// tests). GLib allocates tables in its library constructor and replaces them
// as they grow without freeing the old block (readers may still hold it),
// which LeakSanitizer reports as a leak of the process. Only blocks allocated
// while shared libraries are being initialised are suppressed; GLib is built
// without frame pointers, so allocation stacks are unwound the slow way to
// reach the initialiser. Without a sanitizer these functions are never called.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\n"
         "leak:g_intern_static_string\n"
         "leak:g_intern_string\n"
         "leak:g_quark_from_static_string\n"
         "leak:g_quark_from_string\n"; }
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_options();
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
