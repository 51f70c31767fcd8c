#include "app/Unt_Main.h"

#include "app/HelpPage.h"
#include "app/Unt_Splash.h"
#include "platform/core/AppDir.h"
#include "platform/core/PathCodec.h"
#include "platform/media/MediaPlayer.h"
#include "platform/mounts/Mounts.h"
#include "platform/registry/Registry.h"
#include "search/SearchFile.h"
#include "settings/Unt_Com.h"
#include "settings/Unt_Option.h"
#include "shell/ShellDataItem.h"
#include "shellctrls/Finally.h"
#include "shellctrls/ShellListView.h"
#include "shellctrls/ShellTreeView.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMenuBar>
#include <QProgressDialog>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

const char* const kWindowKey = "\\SOFTWARE\\LumeskSoft\\Tunemill\\Window";
const char* const kListLayoutSection = "ShellFileSetting";

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

bool IsDirectory(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A path on a mount that may stall is taken for what its listing said:
// asking the file system again could hold the window.
bool MayStall(const std::string& path)
{
    return PathMayStall(ReadMounts(), path);
}

void LogWindowSettings(const char* tag, const std::string& message)
{
    WriteErrorLog(kMaker, kModule, tag, message, 0);
}

struct TViewItem
{
    TViewStyle Style;
    const char* Name;
    const char* Caption;
    // Freedesktop names first, then what GNOME themes have.
    const char* Icons[2];
};

constexpr TViewItem kViewItems[] = {
    {vsIcon, "View_LargeIcon", "大きいアイコン", {"view-list-icons", "view-grid-symbolic"}},
    {vsSmallIcon,
     "View_SmallIcon",
     "小さいアイコン",
     {"view-list-compact", "view-app-grid-symbolic"}},
    {vsList, "View_List", "一覧", {"view-list-text", "view-list-bullet-symbolic"}},
    {vsReport, "View_Report", "詳細", {"view-list-details", "view-list-symbolic"}},
};

QIcon ThemeIcon(const char* const (&names)[2])
{
    for (const char* name : names) {
        const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
        if (!icon.isNull())
            return icon;
    }
    return {};
}

// Where the window manager places windows itself, a window cannot move
// and reports no position of its own.
bool WindowsCanBePlaced()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
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

// What the recursive search has seen, and its progress dialog once the
// walk has taken long enough to need one.
class Tfrm_Main::TSearchProgress
{
public:
    TSearchProgress() { Started.start(); }

    QElapsedTimer Started;
    QElapsedTimer LastYield;
    std::unique_ptr<QProgressDialog> Dialog;
    int Folders = 0;
    int Entries = 0;
    bool Cancelled = false;
};

Tfrm_Main::Tfrm_Main(std::unique_ptr<IMediaPlayer> player, QWidget* parent)
    : QMainWindow(parent), WMP_(std::move(player))
{
    if (!WMP_)
        WMP_ = std::make_unique<TMediaPlayer>();

    setWindowTitle(QStringLiteral("Tunemill"));
    // The outer window's top-left, as the stored bounds are taken.
    move(258, 101);
    resize(754, 541);
    SubstituteFormFont();
    QFont formFont(kFormFontFamily);
    formFont.setPixelSize(12);
    setFont(formFont);

    TShellDataItem::SetOwnerWindow(this);
    BuildLayout();
    BuildMenus();

    SearchFile_ = new TSearchFile(this);
    SearchFile_->setObjectName(QStringLiteral("SearchFile"));
    // The handlers read names only.
    SearchFile_->SetWantsData(false);
    SearchFile_->OnFind = [this](QObject* sender, const std::string& name, TSearchFileData data,
                                 bool& continueSearch) {
        SearchFileFind(sender, name, data, continueSearch);
    };
    SearchFile_->OnFindDir = [this](QObject*, const std::string&, TSearchFileData, bool& skip,
                                    bool& ignoreSubDir) {
        UpdateSearchProgress(true);
        if (progress_ && progress_->Cancelled)
            skip = ignoreSubDir = true;
    };

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
    auto* Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1_ = Splitter1;
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);

    auto* GroupBox1 = new QGroupBox(QStringLiteral("フォルダ"), Splitter1);
    GroupBox1_ = GroupBox1;
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
    SLV_->OnDblClick = [this](TShellListView*) { SLVDblClick(); };
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

void Tfrm_Main::BuildMenus()
{
    const auto mainMenuAction = [this](QMenu* menu, const char* name, const char* caption) {
        QAction* action = menu->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromLatin1(name));
        action->setProperty("category", QStringLiteral("メインメニュー"));
        return action;
    };

    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("ファイル"));
    connect(mainMenuAction(fileMenu, "File_Exit", "終了"), &QAction::triggered, this,
            [this] { close(); });

    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("表示"));
    viewGroup_ = new QActionGroup(this);
    viewGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    for (const TViewItem& item : kViewItems) {
        QAction* action = mainMenuAction(viewMenu, item.Name, item.Caption);
        action->setIcon(ThemeIcon(item.Icons));
        action->setCheckable(true);
        action->setData(static_cast<int>(item.Style));
        viewGroup_->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, style = item.Style] { View_Execute(style); });
    }
    viewMenu->addSeparator();
    connect(mainMenuAction(viewMenu, "Option_Option", "オプション設定"), &QAction::triggered, this,
            [this] { Option_OptionExecute(); });

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("ヘルプ"));
    QAction* Help1 = helpMenu->addAction(QStringLiteral("ヘルプ"));
    Help1->setObjectName(QStringLiteral("Help1"));
    connect(Help1, &QAction::triggered, this, [this] { Help1Click(); });
    helpMenu->addSeparator();
    connect(mainMenuAction(helpMenu, "Help_Version", "バージョン"), &QAction::triggered, this,
            [this] { Help_VersionExecute(); });

    PMN_STV_ = new QMenu(this);
    PMN_STV_->setObjectName(QStringLiteral("PMN_STV"));
    QAction* PMN_STV_0 = PMN_STV_->addAction(QStringLiteral("このフォルダを再生"));
    PMN_STV_0->setObjectName(QStringLiteral("PMN_STV_0"));
    connect(PMN_STV_0, &QAction::triggered, this, [this] { PMN_STV_0Click(); });
    QAction* PMN_STV_1 = PMN_STV_->addAction(QStringLiteral("このフォルダ以下を再生"));
    PMN_STV_1->setObjectName(QStringLiteral("PMN_STV_1"));
    connect(PMN_STV_1, &QAction::triggered, this, [this] { PMN_STV_1Click(); });
    STV_->SetPopupMenu(PMN_STV_);

    PMN_SLV_ = new QMenu(this);
    PMN_SLV_->setObjectName(QStringLiteral("PMN_SLV"));
    QAction* PMN_SLV_0 = PMN_SLV_->addAction(QStringLiteral("選択したファイルを再生"));
    PMN_SLV_0->setObjectName(QStringLiteral("PMN_SLV_0"));
    connect(PMN_SLV_0, &QAction::triggered, this, [this] { PMN_SLV_0Click(); });
    SLV_->SetPopupMenu(PMN_SLV_);
}

QAction* Tfrm_Main::ViewAction(TViewStyle style) const
{
    for (QAction* action : viewGroup_->actions())
        if (action->data().toInt() == static_cast<int>(style))
            return action;
    return nullptr;
}

void Tfrm_Main::View_Execute(TViewStyle style)
{
    SLV_->SetViewStyle(style);
    CheckViewStyle();
}

void Tfrm_Main::CheckViewStyle()
{
    if (QAction* action = ViewAction(SLV_->ViewStyle()))
        action->setChecked(true);
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
    const int type = static_cast<int>(event->type());
    if (progress_ && (type == WM_PLAYSTART || type == WM_PLAYNEXT)) {
        // The queue is half gathered and not sorted yet.
        heldMessages_.push_back(type);
        return true;
    }
    switch (type) {
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

void Tfrm_Main::setVisible(bool visible)
{
    // Before the native window exists: until the window manager has framed
    // it, a move of a native window places its client area, not its frame.
    if (visible && !shown_) {
        shown_ = true;
        FormShow();
    }
    QMainWindow::setVisible(visible);
}

void Tfrm_Main::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    ApplyPendingSettings();
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

void Tfrm_Main::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (windowState() == Qt::WindowNoState)
        frameOffset_ = geometry().topLeft() - frameGeometry().topLeft();
}

void Tfrm_Main::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (windowState() == Qt::WindowNoState)
        frameOffset_ = geometry().topLeft() - frameGeometry().topLeft();
}

void Tfrm_Main::FormShow()
{
    LoadWindowSettings();
    LoadOptions();
    PendingFiles.clear();
    Closing = false;
    RepaintSplash();
}

void Tfrm_Main::FormCloseQuery(bool& canClose)
{
    CloseStep();
    if (isMaximized() || isFullScreen()) {
        closeBounds_ = NormalBounds();
        showNormal();
    }
    canClose = true;
}

void Tfrm_Main::FormClose()
{
    SaveWindowSettings();
    SaveOptions();
    PendingFiles.clear();
}

QRect Tfrm_Main::NormalBounds() const
{
    if (closeBounds_)
        return *closeBounds_;
    const QRect client = normalGeometry();
    QPoint topLeft = client.topLeft() - frameOffset_;
    if (!WindowsCanBePlaced() && storedTopLeft_)
        topLeft = *storedTopLeft_;
    return {topLeft, client.size()};
}

void Tfrm_Main::LoadWindowSettings()
{
    TPendingSettings pending;
    try {
        TRegistry registry;
        const bool opened = registry.OpenKey(kWindowKey, true);
        if (const auto malformed = registry.TakeMalformedStore()) {
            LogWindowSettings("prc_LoadFromRegistry-E", MalformedStoreMessage(*malformed));
        } else if (!opened && !registry.LastError().empty()) {
            LogWindowSettings("prc_LoadFromRegistry-E",
                              "設定ファイルを開けません (" + registry.LastError() + ")");
        }
        {
            // The values read before a failure still apply.
            QRect bounds(pos(), size());
            const TFinally placed([&] {
                resize(bounds.size());
                move(bounds.topLeft());
                BringOntoScreen();
            });
            const auto apply = [&](const char* name, auto set) {
                if (registry.ValueExists(name))
                    set(registry.ReadInteger(name));
            };
            apply("MainTop", [&](int top) { bounds.moveTop(top); });
            apply("MainHeight", [&](int height) { bounds.setHeight(height); });
            apply("MainLeft", [&](int left) { bounds.moveLeft(left); });
            apply("MainWidth", [&](int width) { bounds.setWidth(width); });
            storedTopLeft_ = bounds.topLeft();
        }

        // The rest waits for the controls' windows, which the first show
        // makes; bounds must come before it (see setVisible).
        pending.ListLayout = true;
        if (registry.ValueExists("STV_LastDir"))
            pending.LastDir = registry.ReadString("STV_LastDir");
        if (registry.ValueExists("STV_Width"))
            pending.TreeWidth = registry.ReadInteger("STV_Width");
    } catch (const std::exception& error) {
        LogWindowSettings("prc_LoadFromRegistry-E", error.what());
    }
    pendingSettings_ = std::move(pending);
    if (isVisible())
        ApplyPendingSettings();
}

void Tfrm_Main::ApplyPendingSettings()
{
    if (!pendingSettings_)
        return;
    const TPendingSettings pending = std::move(*pendingSettings_);
    pendingSettings_.reset();
    if (!pending.ListLayout)
        return;
    SLV_->LoadSettings(kListLayoutSection);
    CheckViewStyle();
    if (pending.LastDir && !pending.LastDir->empty() && !MayStall(*pending.LastDir) &&
        IsDirectory(*pending.LastDir))
        STV_->SelectPath(*pending.LastDir);
    if (pending.TreeWidth)
        ApplyTreeWidth(*pending.TreeWidth);
}

void Tfrm_Main::SaveWindowSettings()
{
    try {
        TRegistry registry;
        registry.OpenKey(kWindowKey, true);
        const QRect bounds = NormalBounds();
        registry.WriteInteger("MainTop", bounds.top());
        registry.WriteInteger("MainLeft", bounds.left());
        registry.WriteInteger("MainHeight", bounds.height());
        registry.WriteInteger("MainWidth", bounds.width());
        SLV_->SaveSettings(kListLayoutSection);
        registry.WriteString("STV_LastDir", STV_->SelectedPath());
        registry.WriteInteger("STV_Width", STV_->width());
    } catch (const std::exception& error) {
        LogWindowSettings("prc_SaveToRegistry-E", error.what());
    }
}

void Tfrm_Main::ApplyTreeWidth(int width)
{
    // The stored width is the tree's own; the pane is the group box around
    // it, which the splitter sizes.
    GroupBox1_->ensurePolished();
    const QMargins frame = GroupBox1_->contentsMargins();
    const QMargins spacing = GroupBox1_->layout()->contentsMargins();
    const int pane =
        qMax(1, width) + frame.left() + frame.right() + spacing.left() + spacing.right();
    const int total = qMax(Splitter1_->width(), this->width());
    Splitter1_->setSizes({pane, qMax(1, total - pane - Splitter1_->handleWidth())});
}

void Tfrm_Main::BringOntoScreen()
{
    const QRect bounds(pos(), size());
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (const QScreen* screen : screens)
        if (screen->availableGeometry().intersects(bounds))
            return;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr)
        return;
    const QRect area = primary->availableGeometry();
    const QSize fitted = size().boundedTo(area.size());
    resize(fitted);
    move(area.left() + (area.width() - fitted.width()) / 2,
         area.top() + (area.height() - fitted.height()) / 2);
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

void Tfrm_Main::PlayNextInQueue()
{
    if (!progress_)
        PlayNext();
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

// --- The play commands ---------------------------------------------------------

void Tfrm_Main::PMN_STV_0Click()
{
    PendingFiles.clear();
    WMP_->Stop();
    WMP_->Cancel();
    GatherListRows(false);
    if (PendingFiles.empty())
        return;
    StartPlaylist(true);
}

void Tfrm_Main::PMN_STV_1Click()
{
    // The progress dialog is application-modal, so only a nested event
    // loop of someone else's could get here during a walk.
    if (progress_)
        return;
    PendingFiles.clear();
    WMP_->Stop();
    WMP_->Cancel();
    // Stopped, nothing that plays is the queue's: a stream event that the
    // walk lets through must not take a gathered path.
    playingFromQueue_ = false;
    SearchFile_->SetDirectory(STV_->SelectedPath());
    SearchFile_->SetRecursive(true);

    bool completed = false;
    bool cancelled = false;
    {
        progress_ = std::make_unique<TSearchProgress>();
        const TFinally walked([&] {
            cancelled = progress_->Cancelled;
            progress_.reset();
        });
        completed = SearchFile_->Execute();
    }
    if (cancelled) {
        PendingFiles.clear();
        ReleaseHeldMessages(false);
        return;
    }
    if (completed && !PendingFiles.empty())
        SortByPath(PendingFiles);
    ReleaseHeldMessages(true);
    if (!completed || PendingFiles.empty())
        return;
    StartPlaylist(true);
}

void Tfrm_Main::PMN_SLV_0Click()
{
    PendingFiles.clear();
    WMP_->Stop();
    if (SLV_->SelectedRowCount() == 0)
        return;
    GatherListRows(true);
    if (PendingFiles.empty())
        return;
    StartPlaylist(false);
}

void Tfrm_Main::GatherListRows(bool selectedOnly)
{
    // The row count is taken once, as the list stands when the command runs.
    const int count = SLV_->RowCount();
    for (int row = 0; row < count; ++row) {
        if (selectedOnly && !SLV_->IsRowSelected(row))
            continue;
        std::string path = SLV_->FileList()->GetItem(row)->GetPath();
        if (IsMusicFile(path))
            PendingFiles.push_back(std::move(path));
    }
}

void Tfrm_Main::BringToFront()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void Tfrm_Main::SLVDblClick()
{
    const int row = SLV_->FirstSelectedRow();
    if (row < 0)
        return;
    TShellFileItem* item = SLV_->FileList()->GetItem(row);
    if (item == nullptr)
        return;
    const std::string path = item->GetPath();
    // On a mount that may stall the listing's answer stands.
    if (MayStall(path) ? item->HasAttribute(iaFolder) : IsDirectory(path))
        return;
    PlayFile(path, false);
}

void Tfrm_Main::SearchFileFind(QObject*, const std::string& name, const TSearchFileData&,
                               bool& continueSearch)
{
    if (progress_) {
        if (progress_->Cancelled) {
            continueSearch = false;
            return;
        }
        UpdateSearchProgress(false);
    }
    if (IsMusicFile(name))
        PendingFiles.push_back(name);
}

void Tfrm_Main::UpdateSearchProgress(bool folder)
{
    if (!progress_)
        return;
    TSearchProgress& progress = *progress_;
    ++(folder ? progress.Folders : progress.Entries);
    constexpr int kYieldEveryMs = 40;
    if (!progress.Dialog) {
        if (progress.Started.elapsed() < SearchProgressDelayMs)
            return;
        auto dialog = std::make_unique<QProgressDialog>(this);
        dialog->setWindowTitle(QStringLiteral("このフォルダ以下を再生"));
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->setCancelButtonText(QStringLiteral("キャンセル"));
        dialog->setRange(0, 0);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumDuration(0);
        progress.Dialog = std::move(dialog);
        progress.Dialog->show();
    } else if (progress.LastYield.isValid() && progress.LastYield.elapsed() < kYieldEveryMs) {
        return;
    }
    progress.Dialog->setLabelText(
        QStringLiteral("音楽ファイルを探しています\nフォルダ %1 / 項目 %2 / 音楽ファイル %3")
            .arg(progress.Folders)
            .arg(progress.Entries)
            .arg(PendingFiles.size()));
    QCoreApplication::processEvents();
    progress.LastYield.start();
    if (progress.Dialog->wasCanceled())
        progress.Cancelled = true;
}

void Tfrm_Main::ReleaseHeldMessages(bool deliver)
{
    std::vector<int> held;
    held.swap(heldMessages_);
    if (!deliver) {
        // A cancelled command plays nothing: what its walk held back, or
        // what is still queued, would start the player on what it had before.
        QCoreApplication::removePostedEvents(this, WM_PLAYSTART);
        QCoreApplication::removePostedEvents(this, WM_PLAYNEXT);
        return;
    }
    for (const int message : held)
        PostMessage(message);
}

// --- Options, help and version -------------------------------------------------

void Tfrm_Main::Option_OptionExecute()
{
    // One more dialog at each use, owned by the application; it frees
    // itself when closed.
    auto* dialog = new Tfrm_Option();
    frm_Option = dialog;
    dialog->setFont(font());
    dialog->show();
}

void Tfrm_Main::Help1Click()
{
    const std::string page = HelpPageFile();
    if (!page.empty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(PathToQString(page)));
}

void Tfrm_Main::Help_VersionExecute()
{
    ShowVersionWindow();
}
