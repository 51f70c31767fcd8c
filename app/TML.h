#pragma once

#include <QApplication>

/// The application object. Its notify is the top-level error report: an
/// exception that leaves an event handler is shown in a message box and the
/// program keeps running.
class TML : public QApplication
{
public:
    TML(int& argc, char** argv);
    ~TML() override;

    bool notify(QObject* receiver, QEvent* event) override;

    /// Creates the main window frm_Main and runs the message loop until it
    /// closes; returns the loop's exit code.
    int Run();
};
