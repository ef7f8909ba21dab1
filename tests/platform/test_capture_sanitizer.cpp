// Leaks that are not ours, kept out of the leak report:
// - GLib keeps its first quark table, allocated in the library's constructor,
//   when the table grows (decoders register many quarks). Nothing of ours
//   allocates in a shared library's constructor.
// - The PulseAudio device provider forgets its connection when no sound
//   server answers (as on a build machine). We never call PulseAudio.
// GLib has no frame pointers: only the slow unwinder sees those frames.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\nleak:libgstpulseaudio.so\n"; }
#endif

// GLib, GStreamer and its plugins are not instrumented: accesses they make
// through intercepted calls (memcpy from the converters) are theirs, and
// weighing each of them against the suppressions slows the video path down
// until the cameras deliver almost nothing.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
#endif
