#pragma once

#include "app/PlayQueue.h"
#include "platform/media/IMediaPlayer.h"

#include <QMainWindow>
#include <memory>

class QGroupBox;
class QTimer;
class TShellFileItem;
class TShellIDList;
class TShellListView;
class TShellTreeNode;
class TShellTreeView;

/// Messages the main window posts to itself, both with parameters 0.
constexpr int WM_PLAYNEXT = 1801;
constexpr int WM_PLAYSTART = 1802;

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

    /// The paths of the current play command that have not started yet.
    TPendingFiles PendingFiles;
    /// Set when the window is asked to close; the queue is not continued then.
    bool Closing = false;

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

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

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

    std::unique_ptr<IMediaPlayer> WMP_;
    QTimer* Timer1_ = nullptr;
    QGroupBox* GroupBox3_ = nullptr;
    TShellTreeView* STV_ = nullptr;
    TShellListView* SLV_ = nullptr;
    bool shown_ = false;
    // Whether what the player plays now came from PendingFiles.
    bool playingFromQueue_ = false;
};
