#include "app/TML.h"

#include "app/Instance.h"
#include "app/Mpris.h"
#include "app/Unt_Main.h"
#include "app/Unt_Splash.h"
#include "platform/core/ExceptionHandler.h"
#include "platform/kernel/Kernel.h"
#include "platform/shellns/SysImageList.h"

#include <QMessageBox>
#include <QStyle>

#include <map>

namespace {

// The style's pictures stand in for the icons the theme lacks.
QIcon StyleIcon(TSysIcon icon)
{
    static const std::map<TSysIcon, QStyle::StandardPixmap> kPixmaps = {
        {TSysIcon::Document, QStyle::SP_FileIcon},
        {TSysIcon::Folder, QStyle::SP_DirIcon},
        {TSysIcon::FolderOpen, QStyle::SP_DirOpenIcon},
        {TSysIcon::Desktop, QStyle::SP_DesktopIcon},
        {TSysIcon::Computer, QStyle::SP_ComputerIcon},
        {TSysIcon::Home, QStyle::SP_DirHomeIcon},
        {TSysIcon::Network, QStyle::SP_DriveNetIcon},
        {TSysIcon::TrashEmpty, QStyle::SP_TrashIcon},
        {TSysIcon::TrashFull, QStyle::SP_TrashIcon},
        {TSysIcon::DriveFixed, QStyle::SP_DriveHDIcon},
        {TSysIcon::DriveRemovable, QStyle::SP_DriveFDIcon},
        {TSysIcon::DriveOptical, QStyle::SP_DriveCDIcon},
        {TSysIcon::DriveNetwork, QStyle::SP_DriveNetIcon}};
    const auto found = kPixmaps.find(icon);
    return found == kPixmaps.end() ? QIcon() : QApplication::style()->standardIcon(found->second);
}

} // namespace

TML::TML(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tunemill"));
    // No display name: Qt would add " — Tunemill" to every caption, and
    // the options dialog would no longer read "オプション設定".
    setOrganizationName(QStringLiteral("LumeskSoft"));
    setDesktopFileName(QStringLiteral("com.lumesksoft.Tunemill"));
    SetErrorReporter([](const QString& message) {
        QMessageBox::critical(activeWindow(), applicationName(), message);
    });
    SetStandardIconProvider(StyleIcon);
    EnsureProgramResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/tunemill/tunemill-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
}

TML::~TML()
{
    // Watcher threads may still be waiting: tell them to stop and give them a
    // second. End notifications still queued free their objects when the
    // application object goes.
    TThread::StopAll(1000);
    SetErrorReporter(nullptr);
    SetStandardIconProvider(nullptr);
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
    const std::vector<std::string> files = CommandLineFiles(arguments());
    if (HandOverToRunningInstance(files))
        return 0;
    ShowStartupSplash();
    Tfrm_Main frm_Main;
    frm_Main.show();
    TInstanceService instance(frm_Main);
    TMprisService mpris(frm_Main);
    OpenFiles(frm_Main, files);
    return exec();
}
