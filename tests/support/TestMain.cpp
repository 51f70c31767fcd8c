#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Tests never need a display or a sound device.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TUNEMILL_AUDIO_SINK", "fakesink", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
