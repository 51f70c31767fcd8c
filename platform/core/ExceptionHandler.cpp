#include "platform/core/ExceptionHandler.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
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
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() == application->thread()) {
        Report(message);
        return;
    }
    QMetaObject::invokeMethod(
        application, [message] { Report(message); }, Qt::QueuedConnection);
}
