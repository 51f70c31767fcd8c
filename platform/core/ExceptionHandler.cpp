#include "platform/core/ExceptionHandler.h"

#include "platform/core/UiThreadCalls.h"

#include <QCoreApplication>
#include <cstdio>
#include <mutex>

namespace {

std::mutex gMutex;
TErrorReporter gReporter;

void Report(const QString& message)
{
    TErrorReporter reporter;
    {
        std::lock_guard lock(gMutex);
        reporter = gReporter;
    }
    if (reporter)
        reporter(message);
    else
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
}

} // namespace

void SetErrorReporter(TErrorReporter reporter)
{
    PrepareUiThreadCalls();
    std::lock_guard lock(gMutex);
    gReporter = std::move(reporter);
}

QString ExceptionMessage(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return QString::fromUtf8(exception.what());
    } catch (...) {
    }
    return QStringLiteral("不明なエラーが発生しました");
}

void HandleException(std::exception_ptr error)
{
    const QString message = ExceptionMessage(error);
    if (QCoreApplication::instance() == nullptr || IsUiThread()) {
        Report(message);
        return;
    }
    // Without a hand-over nobody installed a reporter from the UI thread;
    // the message still goes somewhere.
    if (!PostToUiThread([message] { Report(message); }))
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
}
