// host/widgetsets/qt/QtLeakSuppressions.cpp - what LeakSanitizer must not count against a
// program on Qt. Compiled into each executable that links the Qt widgetset, in sanitizer
// builds only (the sanitizer reads the list from the executable).
//
// - libdbus and fontconfig keep caches Qt never frees before the process ends.
// - An exception escaping a Qt slot or handler unwinds through Qt's own frames, which are built
//   without exception support: the guard of the button a click is being delivered to is not
//   given back (16 bytes per exception raised from a button's clicked signal). The sanitizer's
//   fast stack walk stops inside Qt, so the guard's allocation is all it sees of the stack.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n"
           "leak:QtSharedPointer::ExternalRefCountData::getAndRef\n";
}
