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

// As the menu command does: a new dialog, named by frm_Option, shown.
static QPointer<Tfrm_Option> Open()
{
    (frm_Option = new Tfrm_Option)->show();
    return frm_Option;
}

struct OptionDialog : ::testing::Test
{
    OptionDialog() { SetApplicationDirectory(dir.Path()); }
    ~OptionDialog() override { SetApplicationDirectory({}); }
    TTestDir dir;
    TScopedVariable configHome{"XDG_CONFIG_HOME", dir.File("config")};
};

TEST_F(OptionDialog, RowIShowsSwitchIAndCancelOrCloseBoxDropsSelectAll)
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

// The second dialog still shows its opening state after the first one's OK.
TEST_F(OptionDialog, TheLastDialogToApplyDecidesAndCancelKeepsWhatWasApplied)
{
    FileTypeSwitches.fill(true);
    QPointer<Tfrm_Option> first = Open(), second = Open();
    for (int row = 0; row < kFileTypeCount; ++row)
        first->SetRowChecked(row, false);
    first->Button1()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull() && frm_Option == second); // only the dialog named clears it
    EXPECT_EQ(FileTypeSwitches, decltype(FileTypeSwitches){});
    EXPECT_TRUE(FileExists(TRegistry::DefaultStoreFile()));
    second->SetRowChecked(ftMP3, false);
    second->btn_Regist()->click();
    second->btn_Cancel()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull() && frm_Option == nullptr);
    EXPECT_EQ(FileTypeSwitches, (decltype(FileTypeSwitches){true, true, true, false, true, true}));
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey(kOptionKey, false));
    EXPECT_EQ(registry.ReadInteger("playMP3"), 0);
    EXPECT_EQ(registry.ReadInteger("playWAV"), 1);
}
