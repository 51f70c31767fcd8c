#include "app/Unt_Main.h"

#include "platform/core/AppDir.h"
#include "platform/core/PathCodec.h"
#include "platform/media/MediaPlayer.h"
#include "settings/Unt_Com.h"
#include "shell/ShellDataItem.h"
#include "shellctrls/ShellListView.h"
#include "shellctrls/ShellTreeView.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QMenuBar>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kMaker = "Lumesk";
const char* const kModule = "Unt_Main";

const QString kFormFontFamily = QStringLiteral("ＭＳ Ｐゴシック");

// fontconfig resolves the design's font name to a face without Japanese
// glyphs; a Japanese gothic takes its place.
void SubstituteFormFont()
{
    static const bool substituted = [] {
        QFont::insertSubstitutions(kFormFontFamily,
                                   {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
        return true;
    }();
    (void)substituted;
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

std::string Visible(std::string path)
{
    for (size_t at = path.find_first_of("\r\n"); at != std::string::npos;
         at = path.find_first_of("\r\n", at + 2))
        path.replace(at, 1, path[at] == '\r' ? "\\r" : "\\n");
    return path;
}

// A guarded command shows nothing, even when the log cannot be written
// either; the log has then put the line on standard error.
void LogStartPlaylist(const std::string& message, bool guarded)
{
    try {
        WriteErrorLog(kMaker, kModule, "prc_StartPlaylist-E", message, 0);
    } catch (const std::exception&) {
        if (!guarded)
            throw;
    }
}

} // namespace

Tfrm_Main::Tfrm_Main(std::unique_ptr<IMediaPlayer> player, QWidget* parent)
    : QMainWindow(parent), WMP_(std::move(player))
{
    if (!WMP_)
        WMP_ = std::make_unique<TMediaPlayer>();

    setWindowTitle(QStringLiteral("Tunemill"));
    setGeometry(258, 101, 754, 541);
    SubstituteFormFont();
    QFont formFont(kFormFontFamily);
    formFont.setPixelSize(12);
    setFont(formFont);

    TShellDataItem::SetOwnerWindow(this);
    BuildLayout();

    Timer1_ = new QTimer(this);
    Timer1_->setInterval(100);
    connect(Timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });

    WMP_->OnNewStream = [this] { WMPNewStream(); };
    WMP_->OnEndOfStream = [this](int32_t result) { WMPEndOfStream(result); };
    WMP_->OnPlayStateChange = [this](int32_t oldState, int32_t newState) {
        WMPPlayStateChange(oldState, newState);
    };
}

Tfrm_Main::~Tfrm_Main()
{
    if (TShellDataItem::OwnerWindow() == this)
        TShellDataItem::SetOwnerWindow(nullptr);
    // The player may outlive nothing that its callbacks reach.
    WMP_->OnNewStream = nullptr;
    WMP_->OnEndOfStream = nullptr;
    WMP_->OnPlayStateChange = nullptr;
}

void Tfrm_Main::BuildLayout()
{
    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("ファイル"));
    QAction* File_Exit = fileMenu->addAction(QStringLiteral("終了"));
    connect(File_Exit, &QAction::triggered, this, [this] { close(); });

    auto* Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);

    auto* GroupBox1 = new QGroupBox(QStringLiteral("フォルダ"), Splitter1);
    auto* folderLayout = new QVBoxLayout(GroupBox1);
    folderLayout->setContentsMargins(2, 2, 2, 2);
    STV_ = new TShellTreeView(GroupBox1);
    STV_->SetIndent(19);
    STV_->SetShowRoot(false);
    STV_->SetCheckboxes(false);
    STV_->SetShVirtuaItems({itBitBucket, itNetWork, itVirtual});
    STV_->OnShBeginDrag = [this](TShellTreeView*, TShellTreeNode* node, QPoint, int, int,
                                 bool& canDrag) { STVShBeginDrag(node, canDrag); };
    folderLayout->addWidget(STV_);
    auto* Pnl_Base = new QWidget(Splitter1);
    auto* GroupBox2 = new QGroupBox(QStringLiteral("ファイル一覧"), Pnl_Base);
    auto* listLayout = new QVBoxLayout(GroupBox2);
    listLayout->setContentsMargins(2, 2, 2, 2);
    SLV_ = new TShellListView(GroupBox2);
    SLV_->SetMultiSelect(true);
    SLV_->SetViewStyle(vsReport);
    SLV_->SetShVirtuaItems({itBitBucket, itNetWork, itVirtual});
    SLV_->OnShBeginDrag = [this](TShellListView*, TShellIDList& items, QPoint, int, int,
                                 bool& canDrag) { SLVShBeginDrag(items, canDrag); };
    SLV_->OnShExecute = [this](TShellListView*, TShellFileItem* item, Qt::KeyboardModifiers, int,
                               int, int,
                               bool& defaultAction) { SLVShExecute(item, defaultAction); };
    listLayout->addWidget(SLV_);
    STV_->SetShellListView(SLV_);
    GroupBox3_ = new QGroupBox(QStringLiteral("プレイヤー"), Pnl_Base);
    GroupBox3_->setFixedHeight(161);

    auto* baseLayout = new QVBoxLayout(Pnl_Base);
    baseLayout->setContentsMargins(0, 0, 0, 0);
    baseLayout->addWidget(GroupBox2, 1);
    baseLayout->addWidget(GroupBox3_, 0);

    auto* playerLayout = new QVBoxLayout(GroupBox3_);
    playerLayout->setContentsMargins(4, 4, 4, 4);
    if (auto* playerWidget = dynamic_cast<QWidget*>(WMP_.get()))
        playerLayout->addWidget(playerWidget);

    Splitter1->addWidget(GroupBox1);
    Splitter1->addWidget(Pnl_Base);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({185, width() - 185 - 3});
    setCentralWidget(Splitter1);
}

void Tfrm_Main::STVShBeginDrag(TShellTreeNode*, bool& canDrag)
{
    // Folders are not dragged out of the tree; it still takes drops.
    canDrag = false;
}

void Tfrm_Main::SLVShBeginDrag(TShellIDList&, bool& canDrag)
{
    canDrag = false;
}

void Tfrm_Main::SLVShExecute(TShellFileItem*, bool& defaultAction)
{
    // A file is played by the window, not opened by the desktop.
    defaultAction = false;
}

bool Tfrm_Main::event(QEvent* event)
{
    switch (static_cast<int>(event->type())) {
    case WM_PLAYSTART:
        WMP_->Play();
        return true;
    case WM_PLAYNEXT:
        PlayNext();
        return true;
    default:
        return QMainWindow::event(event);
    }
}

void Tfrm_Main::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void Tfrm_Main::closeEvent(QCloseEvent* event)
{
    bool canClose = true;
    FormCloseQuery(canClose);
    if (!canClose) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void Tfrm_Main::FormShow()
{
    LoadOptions();
    PendingFiles.clear();
    Closing = false;
}

void Tfrm_Main::FormCloseQuery(bool& canClose)
{
    CloseStep();
    if (isMaximized())
        showNormal();
    canClose = true;
}

void Tfrm_Main::FormClose()
{
    SaveOptions();
    PendingFiles.clear();
}

void Tfrm_Main::CloseStep()
{
    Closing = true;
    PendingFiles.clear();
    WMP_->Stop();
}

bool Tfrm_Main::PlayFile(const std::string& path, bool fromQueue)
{
    try {
        WMP_->SetFileName(PathToQString(path));
    } catch (const std::exception& error) {
        WriteErrorLog(kMaker, kModule, "FV_MainDblClick-E",
                      std::string(error.what()) + "ファイル名 : " + path, 0);
        return false;
    }
    playingFromQueue_ = fromQueue;
    return true;
}

void Tfrm_Main::StartPlaylist(bool guarded)
{
    // A path with a line break cannot be one line of the playlist; the queue
    // must hold exactly what the playlist holds, so it leaves both.
    for (auto it = PendingFiles.begin(); it != PendingFiles.end();) {
        if (IsPlaylistLine(*it)) {
            ++it;
            continue;
        }
        LogStartPlaylist("改行を含むパスは再生リストに書けないため除きました : " + Visible(*it),
                         guarded);
        it = PendingFiles.erase(it);
    }
    if (PendingFiles.empty())
        return;

    const auto handOver = [&] {
        // Without a folder of its own the names would land in the working
        // directory; that is a failed hand-over like any other.
        const std::string directory = ApplicationDirectory();
        if (directory.empty())
            throw std::runtime_error("再生リストを書くフォルダがありません (" +
                                     ApplicationDirectoryError() + ")");
        const std::string p1 = directory + "temp1.m3u";
        const std::string p2 = directory + "temp2.m3u";
        const bool p1Exists = FileExists(p1);
        const std::string& target = p1Exists ? p2 : p1;
        const std::string& other = p1Exists ? p1 : p2;
        WritePlaylistFile(target, PendingFiles);
        WMP_->SetFileName(PathToQString(target));
        playingFromQueue_ = true;
        ::unlink(other.c_str());
    };

    if (!guarded) {
        handOver();
        PostMessage(WM_PLAYSTART);
        return;
    }
    try {
        handOver();
    } catch (const std::exception& error) {
        // Starting the player now would replay whatever it held before;
        // the queue continuation plays the gathered files one by one.
        LogStartPlaylist(error.what(), true);
        PostMessage(WM_PLAYNEXT);
        return;
    }
    PostMessage(WM_PLAYSTART);
}

void Tfrm_Main::PlayNext()
{
    if (Closing)
        return;
    while (!PendingFiles.empty()) {
        if (PlayFile(PendingFiles.front(), true))
            break;
        PendingFiles.pop_front();
    }
}

void Tfrm_Main::WMPNewStream()
{
    Timer1_->start();
    if (playingFromQueue_ && !PendingFiles.empty())
        PendingFiles.pop_front();
}

void Tfrm_Main::WMPEndOfStream(int32_t)
{
    Timer1_->stop();
    PostMessage(WM_PLAYNEXT);
}

void Tfrm_Main::WMPPlayStateChange(int32_t, int32_t newState)
{
    const auto state = static_cast<uint32_t>(newState);
    if (state == IMediaPlayer::psStopped || state == IMediaPlayer::psPaused ||
        state == IMediaPlayer::psClosed)
        Timer1_->stop();
    else
        Timer1_->start();
}

void Tfrm_Main::Timer1Timer()
{
    WMP_->Realign();
}

void Tfrm_Main::PostMessage(int message)
{
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(message)));
}
