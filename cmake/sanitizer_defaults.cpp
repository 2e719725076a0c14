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
// D-Bus thread keeps a buffer of its own.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QPlatformScreen\n"
           "leak:QScreen::QScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n"
           "leak:libdbus-1.so\n";
}

// A clean run prints nothing at its end: a program whose standard error nobody reads must still be able to end.
extern "C" const char *__lsan_default_options()
{
    return "print_suppressions=0";
}
#endif

#if defined(__SANITIZE_THREAD__)
// Qt and GLib are not built with ThreadSanitizer, so the synchronisation inside Qt's cross-thread event
// delivery (futex-based mutexes, atomics) is invisible to it: calls made from those libraries are not watched,
// and reports whose stack passes through that delivery are suppressed. Code synchronised by the standard
// library (std::mutex, std::thread, std::atomic) is checked in full.
extern "C" const char *__tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}

extern "C" const char *__tsan_default_suppressions()
{
    return "race:sendPostedEvents\n"
           "race:QObject::event\n"
           "race:QMetaObject::activate\n"
           "race:QMetaCallEvent\n"
           "race:QFunctorSlotObject\n"
           "race:libglib-2.0.so\n";
}
#endif
