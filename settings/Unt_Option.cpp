#include "settings/Unt_Option.h"

#include "platform/shellns/ShellNs.h"
#include "platform/shellns/SysImageList.h"
#include "settings/Unt_Com.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStandardItemModel>
#include <QStyle>
#include <QTabWidget>

#include <string>

Tfrm_Option* frm_Option = nullptr;

namespace {

struct TFileTypeRow
{
    const char* caption;
    // Row 0 takes the icon of ".mdi", not ".mid", as the dialog always has.
    const char* iconExtension;
};

// Row i shows FileTypeSwitches[i].
constexpr TFileTypeRow kRows[kFileTypeCount] = {
    {"Midiファイル(*.mid,*.rmi,*.midi)", ".mdi"},
    {"Windows Media ファイル(*.wma,*.wmx)", ".wma"},
    {"オーディオファイル(*.wav)", ".wav"},
    {"MP3(*.mp3)", ".mp3"},
    {"AIFF形式サウンド(*.aif,*.aifc,*.aiff)", ".aif"},
    {"AU形式サウンド(*.au,*.snd)", ".au"},
};

QPushButton* MakeButton(const char* caption, QWidget* parent, int left, int top)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setGeometry(left, top, 75, 25);
    return button;
}

} // namespace

Tfrm_Option::Tfrm_Option(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("オプション設定"));
    setFixedSize(351, 243);

    PageControl1_ = new QTabWidget(this);
    PageControl1_->setGeometry(0, 0, 349, 209);
    auto* TabSheet1 = new QWidget;
    PageControl1_->addTab(TabSheet1, QStringLiteral("ファイル形式"));

    Image1_ = new QLabel(TabSheet1);
    Image1_->setGeometry(0, 0, 32, 32);
    QIcon picture = QGuiApplication::windowIcon();
    if (picture.isNull()) {
        picture = QIcon::fromTheme(QStringLiteral("preferences-system"),
                                   style()->standardIcon(QStyle::SP_MediaVolume));
    }
    Image1_->setPixmap(picture.pixmap(32, 32));

    Label1_ =
        new QLabel(QStringLiteral("ここでTunemillで再生するファイル形式を指定します。"), TabSheet1);
    Label1_->move(40, 20);

    // A list of whole captions: two columns of 100 px would cut every one.
    rows_ = new QStandardItemModel(kFileTypeCount, 1, this);
    for (int row = 0; row < kFileTypeCount; ++row) {
        auto* item = new QStandardItem(QString::fromUtf8(kRows[row].caption));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        rows_->setItem(row, 0, item);
    }
    LV_FileType_ = new QListView(TabSheet1);
    LV_FileType_->setGeometry(0, 36, 250, 145);
    LV_FileType_->setModel(rows_);
    LV_FileType_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LV_FileType_->setIconSize(QSize(16, 16));

    btn_SelAll_ = MakeButton("すべて", TabSheet1, 260, 156);
    Button1_ = MakeButton("OK", this, 36, 216);
    btn_Cancel_ = MakeButton("キャンセル", this, 116, 216);
    btn_Regist_ = MakeButton("適用", this, 196, 216);
    btn_Help_ = MakeButton("ヘルプ", this, 276, 216);
    btn_Help_->setEnabled(false);

    connect(btn_SelAll_, &QPushButton::clicked, this, [this] { btn_SelAllClick(); });
    connect(Button1_, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(btn_Cancel_, &QPushButton::clicked, this, [this] { btn_CancelClick(); });
    connect(btn_Regist_, &QPushButton::clicked, this, [this] { btn_RegistClick(); });
}

Tfrm_Option::~Tfrm_Option()
{
    if (frm_Option == this) {
        frm_Option = nullptr;
    }
}

bool Tfrm_Option::RowChecked(int row) const
{
    const QStandardItem* item = rows_->item(row, 0);
    return item != nullptr && item->checkState() == Qt::Checked;
}

void Tfrm_Option::SetRowChecked(int row, bool checked)
{
    if (QStandardItem* item = rows_->item(row, 0)) {
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

void Tfrm_Option::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        // The main window sets its font after construction; the label sizes
        // itself to it here, as it has no layout to do so.
        Label1_->adjustSize();
        if (const QScreen* screen = this->screen()) {
            const QRect available = screen->availableGeometry();
            move(available.center() -
                 QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
        }
        FormShow();
    }
    QDialog::showEvent(event);
}

void Tfrm_Option::FormShow()
{
    const TSysImageList& images = SysImageList(false);
    for (int row = 0; row < kFileTypeCount; ++row) {
        // The lookup takes a file name, where ".mp3" alone would be a hidden
        // file without an extension.
        const std::string standIn = std::string("*") + kRows[row].iconExtension;
        rows_->item(row, 0)->setIcon(images.Icon(FileIconIndex(standIn)));
        SetRowChecked(row, FileTypeSwitches[row]);
    }
}

void Tfrm_Option::btn_RegistClick()
{
    for (int row = 0; row < kFileTypeCount; ++row) {
        FileTypeSwitches[row] = RowChecked(row);
    }
    SaveOptions();
}

void Tfrm_Option::Button1Click()
{
    btn_RegistClick();
    close();
}

void Tfrm_Option::btn_CancelClick()
{
    close();
}

void Tfrm_Option::btn_SelAllClick()
{
    for (int row = 0; row < kFileTypeCount; ++row) {
        SetRowChecked(row, true);
    }
}
