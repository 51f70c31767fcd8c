#include "settings/Unt_Option.h"

#include "platform/core/AppDir.h"
#include "platform/registry/Registry.h"
#include "platform/shellns/ShellNs.h"
#include "platform/shellns/SysImageList.h"
#include "settings/Unt_Com.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

int32_t Stored(const char* name)
{
    TRegistry registry;
    return registry.OpenKey(kOptionKey, false) ? registry.ReadInteger(name) : -1;
}

class OptionDialog : public ::testing::Test
{
protected:
    OptionDialog() { SetApplicationDirectory(dir.Path()); }
    ~OptionDialog() override { SetApplicationDirectory({}); }
    // As the menu command does: a new dialog, named by frm_Option, shown.
    static QPointer<Tfrm_Option> Open()
    {
        (frm_Option = new Tfrm_Option)->show();
        return frm_Option;
    }

    TTestDir dir;
    TScopedVariable configHome{"XDG_CONFIG_HOME", dir.File("config")};
};

// After "すべて", closing by "キャンセル" or by the close box changes and
// writes nothing.
TEST_F(OptionDialog, RowIShowsSwitchIAndSelectAllIsDroppedByClosing)
{
    for (int on = 0; on < kFileTypeCount; ++on) {
        FileTypeSwitches = {};
        FileTypeSwitches[on] = true;
        const auto before = FileTypeSwitches;
        QPointer<Tfrm_Option> dialog = Open();
        const QAbstractItemModel* rows = dialog->LV_FileType()->model();
        ASSERT_EQ(rows->rowCount(), kFileTypeCount);
        for (int row = 0; row < kFileTypeCount; ++row) {
            EXPECT_EQ(dialog->RowChecked(row), row == on) << on << row;
            EXPECT_FALSE(rows->index(row, 0).data().toString().isEmpty() ||
                         rows->index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        }
        // The icon of a file of the row's type, not of a hidden name such as ".mp3".
        EXPECT_EQ(rows->index(ftMP3, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
                  SysImageList(false).Icon(FileIconIndex("song.mp3")).cacheKey());
        dialog->btn_SelAll()->click();
        for (int row = 0; row < kFileTypeCount; ++row)
            EXPECT_TRUE(dialog->RowChecked(row)) << on << row;
        on % 2 == 0 ? dialog->btn_Cancel()->click() : void(dialog->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(dialog.isNull() && frm_Option == nullptr);
        EXPECT_EQ(FileTypeSwitches, before);
        EXPECT_FALSE(FileExists(TRegistry::DefaultStoreFile()));
    }
}

// The first dialog unchecks MP3, applies and cancels; the second, opened
// before that, still shows MP3 on and applies every row unchecked.
TEST_F(OptionDialog, ApplyOutlivesCancelAndTheLastDialogToApplyDecides)
{
    FileTypeSwitches.fill(true);
    QPointer<Tfrm_Option> first = Open(), second = Open();
    first->SetRowChecked(ftMP3, false);
    first->btn_Regist()->click();
    first->btn_Cancel()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull() && frm_Option == second); // only the dialog named clears it
    EXPECT_EQ(FileTypeSwitches, (decltype(FileTypeSwitches){true, true, true, false, true, true}));
    EXPECT_EQ(Stored("playMP3"), 0);
    EXPECT_EQ(Stored("playWAV"), 1);
    ASSERT_TRUE(second->RowChecked(ftMP3));
    for (int row = 0; row < kFileTypeCount; ++row)
        second->SetRowChecked(row, false);
    second->Button1()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull() && frm_Option == nullptr);
    EXPECT_EQ(FileTypeSwitches, decltype(FileTypeSwitches){});
    for (const char* name : {"playMDI", "playWMA", "playWAV", "playMP3", "playAIF", "playSND"})
        EXPECT_EQ(Stored(name), 0) << name;
}

} // namespace
