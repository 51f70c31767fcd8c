#pragma once

#include "platform/shellns/ItemIdList.h"
#include "shell/ShellDataItem.h"
#include "shell/ShellIDList.h"

#include <QPoint>
#include <Qt>
#include <string>

class QObject;
class QWidget;
class TShellTreeView;

// What the browsing controls call on each other. The folder tree, the file
// list, the folder combo box and the shell context menu are linked through
// these small interfaces, so that each can be built and tested without the
// others. A linked partner is not owned: the tree hears of its removal
// through LinkObject()'s destroyed signal and clears its reference.

/// What the folder tree asks of a linked file list.
class IShellListViewLink
{
public:
    virtual ~IShellListViewLink() = default;
    /// The object whose destruction ends the link.
    virtual QObject* LinkObject() = 0;
    /// Shows the folder of an absolute list.
    virtual void OpenFolder(TItemIdPosition idList) = 0;
    /// Its store's SetFolder: fills the store without the view's steps.
    virtual void SetFileListFolder(TItemIdPosition idList) = 0;
    virtual void StopWatching() = 0;
    virtual void ResumeWatching() = 0;
    /// Writes its ShellTreeView field (null clears it).
    virtual void LinkShellTreeView(TShellTreeView* tree) = 0;
    /// The setters, with the list's own steps.
    virtual void SetShVirtuaItems(TShVirtuaItems value) = 0;
    virtual void SetIncludeHidden(bool value) = 0;
    /// The values written directly, without the list's steps.
    virtual void StoreShVirtuaItems(TShVirtuaItems value) = 0;
    virtual void StoreIncludeHidden(bool value) = 0;
};

/// What the folder tree asks of a linked folder combo box.
class IShellComboBoxLink
{
public:
    virtual ~IShellComboBoxLink() = default;
    virtual QObject* LinkObject() = 0;
    virtual void RebuildItems() = 0;
    virtual void SelectIdList(TItemIdPosition idList) = 0;
    /// The entry showing an absolute list; -1 when none does.
    virtual int IndexOfIdList(TItemIdPosition idList) = 0;
    /// The item of entry `index`; null outside the entries.
    virtual TShellDataItem* EntryItem(int index) = 0;
    virtual void SetEntryText(int index, const std::string& text) = 0;
    /// Begin and end update of its item strings.
    virtual void BeginItemsUpdate() = 0;
    virtual void EndItemsUpdate() = 0;
    /// Writes its tree link (null clears it).
    virtual void LinkShellTreeView(TShellTreeView* tree) = 0;
    /// The values written directly, without the combo box's steps.
    virtual void StoreShVirtuaItems(TShVirtuaItems value) = 0;
    virtual void StoreIncludeHidden(bool value) = 0;
};

/// What a control asks of the shell context menu.
class IShellPopupMenuLink
{
public:
    virtual ~IShellPopupMenuLink() = default;
    virtual QObject* LinkObject() = 0;
    virtual void SetAutoPopup(bool autoPopup) = 0;
    virtual void SetBiDiMode(Qt::LayoutDirection direction) = 0;
    /// The control the menu is shown for.
    virtual void SetPopupComponent(QWidget* component) = 0;
    /// Shows the menu for the items at a screen point and answers the code
    /// of the command chosen (18 delete, 19 rename, 25 cut; others as the
    /// menu gives them).
    virtual int Popup(const TShellIDList& items, QPoint screenPoint) = 0;
};
