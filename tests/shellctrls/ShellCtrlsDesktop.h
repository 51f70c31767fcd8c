#pragma once

#include "platform/mounts/Mounts.h"
#include "tests/support/TestFiles.h"

#include <string>
#include <vector>

// A desktop of the browsing controls' tests: a user of their own (HOME and
// the XDG directories in a temporary folder, which also holds "t" for the
// test's own tree) and a mount table of the test's, the root file system
// and whatever a test adds, with the real namespace over both.
class TShellCtrlsDesktop
{
public:
    TShellCtrlsDesktop();
    ~TShellCtrlsDesktop();
    TShellCtrlsDesktop(const TShellCtrlsDesktop&) = delete;
    TShellCtrlsDesktop& operator=(const TShellCtrlsDesktop&) = delete;

    static void Mkdir(const std::string& path);
    /// The root file system followed by mountinfo lines ("/ <point> rw -
    /// <type> <source> rw"); a fresh namespace reads it.
    void WriteTable(const std::vector<std::string>& extra);

    TTestDir dir;
    std::string home;

private:
    TScopedVariable homeVariable_, configVariable_, dataVariable_;
    TMountSources savedSources_;
};
