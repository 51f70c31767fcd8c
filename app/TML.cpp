#include "app/TML.h"

#include "app/Unt_Main.h"
#include "platform/core/ExceptionHandler.h"
#include "platform/kernel/Kernel.h"

#include <QMessageBox>

TML::TML(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tunemill"));
    setApplicationDisplayName(QStringLiteral("Tunemill"));
    setOrganizationName(QStringLiteral("LumeskSoft"));
    SetErrorReporter([](const QString& message) {
        QMessageBox::critical(activeWindow(), applicationDisplayName(), message);
    });
}

TML::~TML()
{
    // Watcher threads may still be waiting: tell them to stop and give them a
    // second. End notifications still queued free their objects when the
    // application object goes.
    TThread::StopAll(1000);
    SetErrorReporter(nullptr);
}

bool TML::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
    }
    return false;
}

int TML::Run()
{
    Tfrm_Main frm_Main;
    frm_Main.show();
    return exec();
}
