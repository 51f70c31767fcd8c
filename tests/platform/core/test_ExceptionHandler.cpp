#include "platform/core/ExceptionHandler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace {

struct TReport
{
    QString Message;
    QThread* Thread = nullptr;
};

class ExceptionHandler : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetErrorReporter([this](const QString& message) {
            reports.push_back({message, QThread::currentThread()});
        });
    }
    void TearDown() override { SetErrorReporter(nullptr); }

    std::vector<TReport> reports;
};

TEST_F(ExceptionHandler, ReportFromAnotherThreadIsShownOnTheUiThread)
{
    std::thread worker([] {
        try {
            throw std::runtime_error("監視スレッドのエラー");
        } catch (...) {
            HandleException(std::current_exception());
        }
    });
    worker.join();
    EXPECT_TRUE(reports.empty()) << "reported on the worker thread";

    QElapsedTimer clock;
    clock.start();
    while (reports.empty() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Message, QStringLiteral("監視スレッドのエラー"));
    EXPECT_EQ(reports[0].Thread, QCoreApplication::instance()->thread());
}

TEST_F(ExceptionHandler, ReportOnTheUiThreadIsImmediate)
{
    HandleException(std::make_exception_ptr(std::logic_error("now")));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Message, QStringLiteral("now"));
}

TEST_F(ExceptionHandler, AnythingThrownHasAMessage)
{
    EXPECT_FALSE(ExceptionMessage(std::make_exception_ptr(42)).isEmpty());
    EXPECT_FALSE(ExceptionMessage(nullptr).isEmpty());
}

} // namespace
