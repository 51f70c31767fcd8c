#pragma once

#include <QDialog>

class QLabel;
class QListView;
class QPushButton;
class QStandardItemModel;
class QTabWidget;

/// The options dialog: one check-box row per file-type group, row i showing
/// FileTypeSwitches[i], each with the icon of its kind of file. The rows are
/// read from the switches at every show, so an open dialog does not follow
/// changes applied by another one; the switches and the settings store
/// change only through "適用" or "OK". Non-modal and deleted when closed; the
/// window's close box and Escape act like "キャンセル".
class Tfrm_Option : public QDialog
{
public:
    explicit Tfrm_Option(QWidget* parent = nullptr);
    ~Tfrm_Option() override;

    QListView* LV_FileType() const { return LV_FileType_; }
    QPushButton* btn_SelAll() const { return btn_SelAll_; }
    QPushButton* Button1() const { return Button1_; }
    QPushButton* btn_Cancel() const { return btn_Cancel_; }
    QPushButton* btn_Regist() const { return btn_Regist_; }
    QPushButton* btn_Help() const { return btn_Help_; }

    /// The check box of a row (0 to 5); false for a row out of range.
    bool RowChecked(int row) const;
    /// Checks or unchecks a row as the user would; out of range does nothing.
    void SetRowChecked(int row, bool checked);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void btn_RegistClick();
    void Button1Click();
    void btn_CancelClick();
    void btn_SelAllClick();

    QTabWidget* PageControl1_ = nullptr;
    QLabel* Image1_ = nullptr;
    QLabel* Label1_ = nullptr;
    QListView* LV_FileType_ = nullptr;
    QStandardItemModel* rows_ = nullptr;
    QPushButton* btn_SelAll_ = nullptr;
    QPushButton* Button1_ = nullptr;
    QPushButton* btn_Cancel_ = nullptr;
    QPushButton* btn_Regist_ = nullptr;
    QPushButton* btn_Help_ = nullptr;
};

/// The dialog the menu command opened last; the command sets it, and the
/// dialog clears it when it is destroyed while it is still the one named.
extern Tfrm_Option* frm_Option;
