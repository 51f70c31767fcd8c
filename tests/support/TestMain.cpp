#include "platform/kernel/Kernel.h"

#if defined(TUNEMILL_TEST_WIDGETS)
#include <QApplication>
using TTestApplication = QApplication;
#elif defined(TUNEMILL_TEST_GUI)
#include <QGuiApplication>
using TTestApplication = QGuiApplication;
#else
#include <QCoreApplication>
using TTestApplication = QCoreApplication;
#endif
#include <cstdlib>
#include <gtest/gtest.h>

// Read by LeakSanitizer in the sanitizer build: third-party allocations that
// live until exit by design (GLib's start-up buffer, type registries, plugin
// and font caches). These libraries have no frame pointers, so a leak through
// g_malloc shows only GLib frames and cannot be told apart here; check such
// leaks with valgrind, which unwinds the whole stack.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libglib-2.0\n"
           "leak:libgobject-2.0\n"
           "leak:libgstreamer-1.0\n"
           "leak:libgstbase-1.0\n"
           "leak:libfontconfig\n"
           "leak:libdbus-1\n"
           "leak:libQt6Core\n"
           "leak:libQt6Gui\n"
           "leak:libgstlibav\n"
           "leak:libavcodec\n"
           "leak:libfluidsynth\n";
}

extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

int main(int argc, char** argv)
{
    // Tests never need a display or a sound device.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TUNEMILL_AUDIO_SINK", "fakesink", 0);
    ::testing::InitGoogleTest(&argc, argv);
    TTestApplication application(argc, argv);
    const int result = RUN_ALL_TESTS();
    // As the application does at exit: no worker may outlive the
    // application object (the sanitizers would see it touch freed memory).
    TThread::StopAll(1000);
    return result;
}
