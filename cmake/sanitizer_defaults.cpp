// Linked into every program of a sanitizer build.

// gcc names the address sanitizer with a macro, clang (the fuzz build) only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define QUORRIN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORRIN_ASAN 1
#endif
#endif

#if defined(QUORRIN_ASAN)
// Qt's offscreen platform plug-in keeps its screen objects until the process ends; on the xcb platform Qt's
// D-Bus thread keeps a buffer of its own; fontconfig drops blocks of its font cache when Qt first lays out text
// (seen by the fuzz build, which checks for leaks after every input).
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QPlatformScreen\n"
           "leak:QScreen::QScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n"
           "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n";
}

// A clean run prints nothing at its end: a program whose standard error nobody reads must still be able to end.
extern "C" const char *__lsan_default_options()
{
    return "print_suppressions=0";
}
#endif

#if defined(__SANITIZE_THREAD__)
// Qt and GLib are not built with ThreadSanitizer: their memory accesses are not instrumented, the interceptors
// they call are not watched (ignore_noninstrumented_modules), and the synchronisation inside Qt's event queues
// (futex-based mutexes, atomics) is invisible. The system announces the hand-offs it makes through those queues
// itself (runtime/HandOffSync), so nothing of the project's own code needs a suppression.
//
// A "race:" rule is matched against every frame of both stacks (and of the threads' creation stacks), so a rule
// naming a Qt function or library also hides every race in code that Qt calls: a slot, a queued lambda, a
// thread started by QThread. "race_top:" is matched against the top frame only, the access itself; with a Qt
// module's name it can match no frame of the project. The rules below only cover accesses made inside Qt and
// GLib themselves.
extern "C" const char *__tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}

extern "C" const char *__tsan_default_suppressions()
{
    return "race_top:libQt5Core.so\n"
           "race_top:libQt5Gui.so\n"
           "race_top:libQt5Widgets.so\n"
           "race_top:libQt5Network.so\n"
           "race_top:libqoffscreen.so\n"
           "race_top:libglib-2.0.so\n";
}
#endif
