#pragma once

#include "app/PlayQueue.h"
#include "platform/media/IMediaPlayer.h"
#include "shellctrls/ShellFileList.h"

#include <QMainWindow>
#include <QRect>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QActionGroup;
class QGroupBox;
class QMenu;
class QSplitter;
class QTimer;
class TSearchFile;
struct TSearchFileData;
class TShellFileItem;
class TShellIDList;
class TShellListView;
class TShellTreeNode;
class TShellTreeView;

/// Messages the main window posts to itself, both with parameters 0.
constexpr int WM_PLAYNEXT = 1801;
constexpr int WM_PLAYSTART = 1802;

/// The settings key of the window's own values.
extern const char* const kWindowKey;
/// The file list's section in the layout file.
extern const char* const kListLayoutSection;

/// The main window: its layout and menus, the player driver and the play
/// queue. The driver hands the player a playlist or a single file, follows
/// the player's events to keep PendingFiles in step with what has started,
/// continues with the rest of the queue when a stream ends and skips the
/// files the player refuses.
class Tfrm_Main : public QMainWindow
{
public:
    /// The window with the given player as its component WMP; a TMediaPlayer
    /// when none is given. A player that is a QWidget is placed in the
    /// "プレイヤー" group box.
    explicit Tfrm_Main(std::unique_ptr<IMediaPlayer> player = nullptr, QWidget* parent = nullptr);
    ~Tfrm_Main() override;

    IMediaPlayer& WMP() const { return *WMP_; }
    QTimer* Timer1() const { return Timer1_; }
    /// The folder tree of the "フォルダ" pane.
    TShellTreeView* STV() const { return STV_; }
    /// The file list of the "ファイル一覧" pane.
    TShellListView* SLV() const { return SLV_; }
    TSearchFile* SearchFile() const { return SearchFile_; }
    QGroupBox* GroupBox1() const { return GroupBox1_; }
    QMenu* PMN_STV() const { return PMN_STV_; }
    QMenu* PMN_SLV() const { return PMN_SLV_; }
    /// The menu item of a view style.
    QAction* ViewAction(TViewStyle style) const;

    /// The paths of the current play command that have not started yet.
    TPendingFiles PendingFiles;
    /// Set when the window is asked to close; the queue is not continued then.
    bool Closing = false;
    /// How long the recursive search runs before its progress dialog shows.
    int SearchProgressDelayMs = 300;

    /// Hands one media file to the player; true when the player took it.
    /// A refusal is logged under "FV_MainDblClick-E". FromQueue says whether
    /// the file is the queue's head (the queue continuation) or not (a
    /// double-click): only streams from the queue consume its head.
    bool PlayFile(const std::string& path, bool fromQueue);

    /// Writes PendingFiles to the playlist file not used last, gives it to
    /// the player and posts WM_PLAYSTART. Guarded, a failure is logged and
    /// the queue is played file by file instead (WM_PLAYNEXT); unguarded, it
    /// propagates and nothing is posted.
    void StartPlaylist(bool guarded);

    /// The close step: set Closing, empty the queue, stop the player.
    void CloseStep();

    /// Continues with the queue now, as the end of the current stream would
    /// (WM_PLAYNEXT); nothing while the recursive search gathers the queue.
    void PlayNextInQueue();

    // The play commands.
    /// "このフォルダを再生": the music files of the folder the list shows.
    void PMN_STV_0Click();
    /// "このフォルダ以下を再生": the music files of the selected folder and
    /// of every folder below it, sorted by path. After 300 ms a progress
    /// dialog shows, whose "キャンセル" ends the walk; a cancelled command
    /// plays nothing.
    void PMN_STV_1Click();
    /// "選択したファイルを再生".
    void PMN_SLV_0Click();
    /// Plays the first selected row, unless it is a folder.
    void SLVDblClick();
    /// Appends the music files of the list's rows (the selected ones only,
    /// or all), in row order, to PendingFiles.
    void GatherListRows(bool selectedOnly);
    /// Shows the window normal if minimized, raises and activates it.
    void BringToFront();
    void SearchFileFind(QObject* sender, const std::string& name, const TSearchFileData& data,
                        bool& continueSearch);

    /// Bounds, the list's layout, the last folder and the tree's width.
    /// MainLeft and MainTop are the outer window's top-left (the frame's),
    /// MainWidth and MainHeight the size of its client area: what the
    /// window manager adds around it is its own, so a window reopened under
    /// another theme keeps its content's size.
    void LoadWindowSettings();
    void SaveWindowSettings();

    void Option_OptionExecute();
    void Help1Click();
    void Help_VersionExecute();

protected:
    bool event(QEvent* event) override;
    void setVisible(bool visible) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildLayout();
    void FormShow();
    void FormCloseQuery(bool& canClose);
    void FormClose();

    void WMPNewStream();
    void WMPEndOfStream(int32_t result);
    void WMPPlayStateChange(int32_t oldState, int32_t newState);
    void Timer1Timer();
    void STVShBeginDrag(TShellTreeNode* node, bool& canDrag);
    void SLVShBeginDrag(TShellIDList& items, bool& canDrag);
    void SLVShExecute(TShellFileItem* item, bool& defaultAction);
    void PlayNext();
    void PostMessage(int message);
    void BuildMenus();
    void View_Execute(TViewStyle style);
    void CheckViewStyle();
    void ApplyTreeWidth(int width);
    void BringOntoScreen();
    void ApplyPendingSettings();
    QRect NormalBounds() const;
    void ReleaseHeldMessages(bool deliver);
    void UpdateSearchProgress(bool folder);

    class TSearchProgress;

    std::unique_ptr<IMediaPlayer> WMP_;
    QTimer* Timer1_ = nullptr;
    QGroupBox* GroupBox3_ = nullptr;
    TShellTreeView* STV_ = nullptr;
    TShellListView* SLV_ = nullptr;
    TSearchFile* SearchFile_ = nullptr;
    QSplitter* Splitter1_ = nullptr;
    QGroupBox* GroupBox1_ = nullptr;
    QMenu* PMN_STV_ = nullptr;
    QMenu* PMN_SLV_ = nullptr;
    QActionGroup* viewGroup_ = nullptr;
    bool shown_ = false;
    // The frame's top-left less the client's, seen while the window was
    // normal; a maximized window's normal bounds are client bounds.
    QPoint frameOffset_;
    // Where the window manager does not let the window place itself, the
    // stored top-left stays what was loaded.
    std::optional<QPoint> storedTopLeft_;
    // The normal bounds taken before a maximized window is set back to
    // normal at close, which the window manager does in its own time.
    std::optional<QRect> closeBounds_;
    // What the settings load read for the controls, applied once their
    // windows exist.
    struct TPendingSettings
    {
        bool ListLayout = false;
        std::optional<std::string> LastDir;
        std::optional<int> TreeWidth;
    };
    std::optional<TPendingSettings> pendingSettings_;
    // While the recursive search yields to the event loop: the driver's
    // messages that arrived meanwhile, and the walk's progress.
    std::unique_ptr<TSearchProgress> progress_;
    std::vector<int> heldMessages_;
    // Whether what the player plays now came from PendingFiles.
    bool playingFromQueue_ = false;
};
