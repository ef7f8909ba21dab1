// GLib keeps its first quark table, allocated in the library's constructor,
// when the table grows (decoders register many quarks): a deliberate,
// bounded leak that is not ours. Nothing of ours allocates in a shared
// library's constructor, so suppressing exactly those leaks hides nothing.
// GLib has no frame pointers: only the slow unwinder sees the constructor.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }
#endif
