#pragma once

#include "platform/core/DateTime.h"
#include "platform/core/ShellResult.h"
#include "platform/shellns/ItemIdList.h"
#include "platform/shellns/Ole.h"

#include <QIcon>

#include <array>
#include <compare>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QMenu;
class QWidget;

// The desktop namespace: a tree of folders, rooted at the desktop, whose items
// are named by item identifier lists. The browsing controls see it only
// through these interfaces, so a test can put a scripted namespace in place
// of the real one (SetShellNamespace). Every interface is held by
// std::shared_ptr. Calls answer a result code and fill their out-parameters
// only on success; none of them throws. Names are byte strings in the locale
// encoding (UTF-8); a file name that is not valid UTF-8 keeps its bytes in
// FORPARSING names and shows replacement characters in the others.
//
// Item bytes are the namespace's own: callers only hold, copy, join and split
// lists, and pass them back.
//
// The namespace is for the UI thread: the process's namespace, its folders
// and what they hand out are made, asked and dropped there. Their caches (the
// mount table, the collation keys of names, the original names of trashed
// files, the namespace itself) hold no lock; debug builds assert the thread
// where they are used (AssertNamespaceThread). A worker that needs facts of
// a folder reads the file system itself.

// EnumObjects flags.
constexpr uint32_t SHCONTF_FOLDERS = 0x20;
constexpr uint32_t SHCONTF_NONFOLDERS = 0x40;
constexpr uint32_t SHCONTF_INCLUDEHIDDEN = 0x80;

// GetDisplayNameOf flags: the name relative to the desktop, within its
// folder, and the form that ParseDisplayName takes back (a path for
// file-system items).
constexpr uint32_t SHGDN_NORMAL = 0x0;
constexpr uint32_t SHGDN_INFOLDER = 0x1;
constexpr uint32_t SHGDN_FORPARSING = 0x8000;

// Attribute bits of GetAttributesOf.
constexpr uint32_t SFGAO_CANCOPY = 0x1;
constexpr uint32_t SFGAO_CANMOVE = 0x2;
constexpr uint32_t SFGAO_CANLINK = 0x4;
constexpr uint32_t SFGAO_CANRENAME = 0x10;
constexpr uint32_t SFGAO_CANDELETE = 0x20;
constexpr uint32_t SFGAO_HASPROPSHEET = 0x40;
constexpr uint32_t SFGAO_DROPTARGET = 0x100;
constexpr uint32_t SFGAO_CAPABILITYMASK = 0x177;
constexpr uint32_t SFGAO_LINK = 0x10000;
constexpr uint32_t SFGAO_SHARE = 0x20000;
constexpr uint32_t SFGAO_READONLY = 0x40000;
constexpr uint32_t SFGAO_HIDDEN = 0x80000;
constexpr uint32_t SFGAO_NONENUMERATED = 0x100000;
constexpr uint32_t SFGAO_NEWCONTENT = 0x200000;
constexpr uint32_t SFGAO_VALIDATE = 0x1000000;
constexpr uint32_t SFGAO_REMOVABLE = 0x2000000;
constexpr uint32_t SFGAO_COMPRESSED = 0x4000000;
constexpr uint32_t SFGAO_BROWSABLE = 0x8000000;
constexpr uint32_t SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr uint32_t SFGAO_FOLDER = 0x20000000;
constexpr uint32_t SFGAO_FILESYSTEM = 0x40000000;
constexpr uint32_t SFGAO_HASSUBFOLDER = 0x80000000;

// Icon lookups.
constexpr uint32_t GIL_OPENICON = 0x1;
constexpr uint32_t GIL_FORSHELL = 0x2;
constexpr uint32_t GIL_PERCLASS = 0x4;

// GetFileInfo flags.
constexpr uint32_t SHGFI_SMALLICON = 0x1;
constexpr uint32_t SHGFI_OPENICON = 0x2;
constexpr uint32_t SHGFI_PIDL = 0x8;
constexpr uint32_t SHGFI_TYPENAME = 0x400;
constexpr uint32_t SHGFI_SYSICONINDEX = 0x4000;

// Context menu flags (QueryContextMenu).
constexpr uint32_t CMF_NORMAL = 0x0;
constexpr uint32_t CMF_DEFAULTONLY = 0x1;
constexpr uint32_t CMF_EXPLORE = 0x4;
constexpr uint32_t CMF_CANRENAME = 0x10;

/// Command offsets of a context menu that the controls act on themselves.
constexpr uint32_t kCmdOffsetPaste = 16;
constexpr uint32_t kCmdOffsetDelete = 17;
constexpr uint32_t kCmdOffsetRename = 18;
constexpr uint32_t kCmdOffsetCut = 24;

/// What the namespace knows of a file-system item without asking again.
struct TWin32FindData
{
    uint32_t FileAttributes = 0; // FILE_ATTRIBUTE_* of platform/FileFacts
    TFileTime CreationTime = 0;  // 100-ns units since 1601 UTC; 0 unknown
    TFileTime LastAccessTime = 0;
    TFileTime LastWriteTime = 0;
    uint64_t FileSize = 0;
    std::string FileName; // the name's bytes
};

/// The children of a folder, one relative list at a time.
class IEnumIDList
{
public:
    virtual ~IEnumIDList() = default;
    /// S_OK and the next child's one-item list; S_FALSE when none remain.
    virtual HRESULT Next(TItemIdList& item) = 0;
};

/// An object that knows the icon of one kind of item.
class IExtractIcon
{
public:
    virtual ~IExtractIcon() = default;
    /// The system image list index and GIL_* flags (GIL_PERCLASS when every
    /// item of its kind has that icon).
    virtual HRESULT GetIconLocation(uint32_t flags, int& index, uint32_t& outFlags) = 0;
};

/// The shell's menu of commands for a selection of items of one folder.
class IContextMenu
{
public:
    virtual ~IContextMenu() = default;
    /// Puts the commands into `menu` from position `index`, numbered from
    /// `firstCommand` up to `lastCommand`; the success code carries how many
    /// command numbers were used.
    virtual HRESULT QueryContextMenu(QMenu* menu, uint32_t index, uint32_t firstCommand,
                                     uint32_t lastCommand, uint32_t flags) = 0;
    /// Carries out the command at `offset` from the first command number.
    virtual HRESULT InvokeCommand(QWidget* owner, uint32_t offset) = 0;
    /// The help text of the command at `offset`.
    virtual HRESULT GetCommandString(uint32_t offset, std::string& helpText) = 0;
};

/// A folder that gives system icon indexes itself.
class IShellIcon
{
public:
    virtual ~IShellIcon() = default;
    virtual HRESULT GetIconOf(TItemIdPosition item, uint32_t flags, int& index) = 0;
};

/// A folder that gives overlay numbers itself.
class IShellIconOverlay
{
public:
    virtual ~IShellIconOverlay() = default;
    /// S_OK and a 1-based overlay number.
    virtual HRESULT GetOverlayIndex(TItemIdPosition item, int& index) = 0;
};

/// An item's place in the order of one column (IShellFolder::GetSortKeys):
/// the numbers in turn, then the bytes as unsigned bytes. Only keys of one
/// call compare: a number may be a place among the names that call saw.
struct TSortKey
{
    std::array<uint64_t, 3> Numbers{};
    std::string Bytes;

    friend std::strong_ordering operator<=>(const TSortKey&, const TSortKey&) = default;
    friend bool operator==(const TSortKey&, const TSortKey&) = default;
};

/// One folder of the namespace. Lists passed in are relative to this folder
/// (one item names a child; more items name something further down, which
/// the folder resolves by binding); every list passed in is only read.
class IShellFolder
{
public:
    virtual ~IShellFolder() = default;

    /// A list for a display name that the folder understands (for the
    /// desktop: an absolute path).
    virtual HRESULT ParseDisplayName(QWidget* owner, const std::string& name,
                                     TItemIdList& list) = 0;
    /// The children of the kinds that `flags` asks for.
    virtual HRESULT EnumObjects(QWidget* owner, uint32_t flags,
                                std::shared_ptr<IEnumIDList>& children) = 0;
    /// The folder that `list` names.
    virtual HRESULT BindToObject(TItemIdPosition list, std::shared_ptr<IShellFolder>& folder) = 0;
    /// The order of two lists by a column (0 name, 1 size, 2 type, 3 modified
    /// time, 4 attributes): a success code whose low 16 bits, read signed, are
    /// negative when `first` comes before `second`, 0 only when the two name
    /// the same item, positive when it comes after.
    virtual HRESULT CompareIDs(int column, TItemIdPosition first, TItemIdPosition second) = 0;
    /// One key per item (one-item lists of children), in the items' order,
    /// so that a sort of many children compares keys made once instead of
    /// calling CompareIDs for every pair: two keys of one call compare
    /// (operator<=>) as CompareIDs(column, ...) compares their items, sign for
    /// sign, for every pair of distinct children (two readings of one child
    /// whose facts differ may get different keys). Keys of other calls do not
    /// compare. `keys` is replaced on success only. The default
    /// answers E_NOTIMPL, and the caller compares with CompareIDs; E_INVALIDARG
    /// when an item is not a child of this folder.
    virtual HRESULT GetSortKeys(int /*column*/, std::span<const TItemIdPosition> /*items*/,
                                std::vector<TSortKey>& /*keys*/)
    {
        return E_NOTIMPL;
    }
    /// `attributes` comes in as the SFGAO bits asked for and goes out as
    /// those that every item has (bits not asked for may be set too).
    virtual HRESULT GetAttributesOf(std::span<const TItemIdPosition> items,
                                    uint32_t& attributes) = 0;

    /// The UI objects of one or more items of this folder; E_NOINTERFACE
    /// when the items offer none of that kind.
    virtual HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                  std::shared_ptr<IDropTarget>& target) = 0;
    virtual HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                  std::shared_ptr<IDataObject>& data) = 0;
    virtual HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                  std::shared_ptr<IExtractIcon>& extractor) = 0;
    virtual HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                                  std::shared_ptr<IContextMenu>& menu) = 0;

    virtual HRESULT GetDisplayNameOf(TItemIdPosition item, uint32_t flags, std::string& name) = 0;
    /// Gives a child a new name (never over an existing one); S_OK and, when
    /// `newItem` is given, the child's new one-item list.
    virtual HRESULT SetNameOf(QWidget* owner, TItemIdPosition item, const std::string& newName,
                              uint32_t flags, TItemIdList* newItem) = 0;
    /// The find data of a file-system child.
    virtual HRESULT GetDataFromIDList(TItemIdPosition item, TWin32FindData& data) = 0;

    /// The optional interfaces; null when the folder does not offer them.
    virtual std::shared_ptr<IShellIcon> QueryShellIcon() { return nullptr; }
    virtual std::shared_ptr<IShellIconOverlay> QueryIconOverlay() { return nullptr; }
};

/// The system image list: one index per distinct icon, shared by the whole
/// process, in a small (16 px) and a large (32 px) size. Index 0 always
/// exists (a plain document) so that a failed lookup still shows an icon.
class TSysImageList
{
public:
    explicit TSysImageList(int size) : size_(size) {}
    /// 16 or 32.
    int Size() const { return size_; }
    /// The number of icons registered so far (both sizes share indexes).
    int Count() const;
    /// The icon at an index; the plain document icon for one out of range.
    QIcon Icon(int index) const;
    /// The overlay image of a 0-based overlay slot (0 shared, 1 link); a null
    /// icon for other slots.
    QIcon Overlay(int slot) const;

private:
    int size_;
};

/// The answers of GetFileInfo.
struct TShFileInfo
{
    int IconIndex = 0;
    std::string TypeName;
    /// With SHGFI_SYSICONINDEX: the image list of the size asked for.
    const TSysImageList* ImageList = nullptr;
};

/// The namespace as a whole: the operations that are not asked of a folder.
class IShellNamespace
{
public:
    virtual ~IShellNamespace() = default;
    /// The root folder.
    virtual HRESULT GetDesktopFolder(std::shared_ptr<IShellFolder>& desktop) = 0;
    /// The absolute list of a special folder by its CSIDL value; E_INVALIDARG
    /// for a special folder that this desktop does not have.
    virtual HRESULT GetSpecialFolderLocation(QWidget* owner, int csidl, TItemIdList& list) = 0;
    /// The file-system path of an absolute list; false for items outside the
    /// file system.
    virtual bool GetPathFromIDList(TItemIdPosition list, std::string& path) = 0;
    /// Icon index (SHGFI_SYSICONINDEX, with SHGFI_SMALLICON / SHGFI_OPENICON)
    /// or type name (SHGFI_TYPENAME) of an absolute list (SHGFI_PIDL).
    virtual bool GetFileInfo(TItemIdPosition list, uint32_t flags, TShFileInfo& info) = 0;
    /// Delivers the change notices that are still pending.
    virtual void FlushChangeNotices() = 0;
    /// The label of the volume mounted at `rootPath`; empty when there is
    /// none. Never blocks on a missing medium or a stalled server.
    virtual std::string GetVolumeLabel(const std::string& rootPath) = 0;
};

/// Debug builds stop the program when this is not the UI thread (the thread
/// of the application object, once there is one); release builds do nothing.
void AssertNamespaceThread();

/// The namespace of this process: the Linux desktop unless a test put
/// another in place. Never null.
std::shared_ptr<IShellNamespace> ShellNamespace();
/// Puts a namespace in place; null goes back to the Linux desktop.
void SetShellNamespace(std::shared_ptr<IShellNamespace> shellNamespace);
