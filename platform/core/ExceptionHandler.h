#pragma once

#include <QString>
#include <exception>
#include <functional>

// The application-wide error report. The application installs the reporter
// (a message box); any thread may hand an exception to HandleException, and
// the report is always shown on the UI thread.

using TErrorReporter = std::function<void(const QString& message)>;

/// Installs the reporter; call on the UI thread, which also makes the
/// hand-over that brings other threads' reports there (UiThreadCalls). An
/// empty reporter restores the default, which writes the message to
/// standard error.
void SetErrorReporter(TErrorReporter reporter);

/// The message text of an exception: what() of a std::exception as UTF-8,
/// a fixed text for anything else.
QString ExceptionMessage(std::exception_ptr error);

/// Reports an exception. On the UI thread the reporter runs at once; on any
/// other thread the report is queued to the UI thread, behind the calls
/// handed over before it, and this returns (with no hand-over made, the
/// message goes to standard error from here).
void HandleException(std::exception_ptr error);
