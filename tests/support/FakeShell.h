#pragma once

#include "platform/shellns/ItemIdList.h"
#include "platform/shellns/Ole.h"
#include "platform/shellns/ShellNs.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A scripted namespace for tests: a tree of nodes built in code that answers
// IShellNamespace and IShellFolder the way the desktop would, with switches
// that make single calls fail and counters of the calls made.
//
//     TFakeShell shell;
//     TFakeNode& computer = shell.Desktop().AddFolder(
//         "コンピューター", {.Csidl = 17, .Attributes = SFGAO_HASSUBFOLDER});
//     TFakeNode& drive = computer.AddFolder(
//         "C:", {.Attributes = SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR, .Path = "/mnt/c"});
//     computer.AddFolder("プリンター"); // virtual: no FILESYSTEM, no path
//     TFakeShellScope scope(shell);     // ShellNamespace() is the fake until scope ends
//
// Item bytes are the fake's own: every item is 8 bytes (count 8, the tag
// "Fk", a 32-bit little-endian node id). Bytes of another form, or of a node
// that is gone, are answered with E_INVALIDARG. The desktop is the empty list.
//
// The namespace and the folders it hands out share the tree with TFakeShell,
// so a folder that a test keeps stays usable after the shell is gone. Nodes
// are never freed before the shell: a removed node is only detached.

// Nodes are scripted with designated initializers that name only the options
// that matter to a test; GCC 12 would warn about every option left out.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

class TFakeNode;
struct TFakeShellState;

/// What a node is and how it behaves; every field may also be changed later
/// through TFakeNode::Options.
struct TFakeNodeOptions
{
    /// The CSIDL that GetSpecialFolderLocation answers with this node; -1 none.
    int Csidl = -1;
    /// SFGAO_* bits (AddFolder adds SFGAO_FOLDER).
    uint32_t Attributes = 0;
    /// The file-system path. When empty and the node has SFGAO_FILESYSTEM,
    /// it is made from the parent's path and the name.
    std::string Path;
    /// System icon indexes that GetFileInfo gives; -1 gives none (GetFileInfo
    /// fails). The open and large ones fall back to IconIndex when -1
    /// (large open to large, then open).
    int IconIndex = -1;
    int OpenIconIndex = -1;
    int LargeIconIndex = -1;
    int LargeOpenIconIndex = -1;
    /// The SHGFI_TYPENAME answer.
    std::string TypeName;
    /// Find data (GetDataFromIDList answers for SFGAO_FILESYSTEM nodes; the
    /// file name is the node's name, FILE_ATTRIBUTE_DIRECTORY for folders).
    uint64_t FileSize = 0;
    TFileTime LastWriteTime = 0;
    uint32_t FileAttributes = 0;

    // Failure switches.
    /// BindToObject through or to this node fails.
    bool FailBind = false;
    /// CompareIDs of this folder fails.
    bool FailCompare = false;
    /// GetDisplayNameOf of this node fails.
    bool FailDisplayName = false;
    /// GetAttributesOf fails when this node is among the items.
    bool FailAttributes = false;
    /// EnumObjects of this folder fails.
    bool FailEnum = false;
    /// SetNameOf of this node fails.
    bool FailRename = false;

    // Optional interfaces of this node as a folder.
    /// QueryShellIcon answers an IShellIcon whose GetIconOf gives each
    /// child's ShellIconIndex (S_FALSE for a child whose index is -1).
    bool OffersShellIcon = false;
    /// QueryIconOverlay answers an IShellIconOverlay whose GetOverlayIndex
    /// gives each child's OverlayIndex (S_FALSE for a child whose index is < 1).
    bool OffersIconOverlay = false;

    // Answers about this node as an item.
    int ShellIconIndex = -1;
    int OverlayIndex = 0;
    /// When set, GetUIObjectOf(IExtractIcon) of this single item gives an
    /// extractor whose GetIconLocation answers these.
    struct TIconLocation
    {
        HRESULT Result = S_OK;
        int Index = 0;
        uint32_t Flags = 0;
    };
    std::optional<TIconLocation> ExtractIcon;
    /// GetUIObjectOf of this single item answers these when set; without a
    /// data object, one is made for any selection (see GetUIObjectOf below).
    std::shared_ptr<IDropTarget> DropTarget;
    std::shared_ptr<IDataObject> DataObject;
    std::shared_ptr<IContextMenu> ContextMenu;
};

/// One item of the scripted tree.
class TFakeNode
{
public:
    TFakeNode(const TFakeNode&) = delete;
    TFakeNode& operator=(const TFakeNode&) = delete;

    /// A child at the end of the children (enumeration order).
    TFakeNode& AddFolder(const std::string& name, TFakeNodeOptions options = {});
    TFakeNode& AddFile(const std::string& name, TFakeNodeOptions options = {});
    /// Detaches a child (and its subtree): its lists no longer resolve.
    void Remove(TFakeNode& child);

    /// The child with this name; null when there is none.
    TFakeNode* Child(const std::string& name) const;
    const std::vector<TFakeNode*>& Children() const { return children_; }
    TFakeNode* Parent() const { return parent_; }
    const std::string& Name() const { return name_; }
    /// The id in the node's item bytes; 0 for the desktop. Renaming gives a
    /// new one.
    uint32_t Id() const { return id_; }
    bool IsFolder() const { return (Options.Attributes & SFGAO_FOLDER) != 0; }
    /// 0 for the desktop, 1 for its children and so on.
    int Level() const;

    /// The list from the desktop (the empty list for the desktop).
    TItemIdList AbsoluteIdList() const;
    /// The one-item list in the parent (the empty list for the desktop).
    TItemIdList RelativeIdList() const;

    TFakeNodeOptions Options;

private:
    friend class TFakeShell;
    friend struct TFakeShellState;
    TFakeNode(TFakeShellState& state, TFakeNode* parent, std::string name,
              TFakeNodeOptions options);
    TFakeNode& AddChild(const std::string& name, TFakeNodeOptions options);

    TFakeShellState& state_;
    TFakeNode* parent_;
    std::string name_;
    uint32_t id_ = 0;
    std::vector<TFakeNode*> children_;
};

/// How often each call was made since the last Reset.
struct TFakeShellCounters
{
    int GetDesktopFolder = 0;
    int GetSpecialFolderLocation = 0;
    int GetPathFromIDList = 0;
    int GetFileInfo = 0;
    int FlushChangeNotices = 0;
    int ParseDisplayName = 0;
    int EnumObjects = 0;
    int BindToObject = 0;
    int CompareIDs = 0;
    int GetAttributesOf = 0;
    int GetUIObjectOf = 0;
    int GetDisplayNameOf = 0;
    int SetNameOf = 0;
    int GetDataFromIDList = 0;
    int GetIconOf = 0;
    int GetOverlayIndex = 0;
    int GetIconLocation = 0;

    void Reset() { *this = {}; }
};

/// The scripted namespace. Its desktop is named "デスクトップ", has CSIDL 0,
/// SFGAO_FOLDER | SFGAO_HASSUBFOLDER and icon index 0.
///
/// Behaviour of the folders it hands out (lists are relative to the folder;
/// a list of several items is followed down the tree; the empty list names
/// the folder itself where an item is asked for):
/// - ParseDisplayName: the desktop takes a node's Path (a trailing "/" is
///   allowed) and answers the absolute list of the first node in tree order
///   with that path; every folder takes a child's name and answers its
///   relative list. E_INVALIDARG otherwise.
/// - EnumObjects: the children in order, folders and non-folders as asked,
///   SFGAO_HIDDEN ones only with SHCONTF_INCLUDEHIDDEN.
/// - BindToObject: the folder of the node; E_FAIL when it or a node on the
///   way has FailBind or is not a folder.
/// - CompareIDs: folders before others, then by column (0 name byte-wise,
///   1 FileSize, 2 TypeName, 3 LastWriteTime, 4 Attributes), then by name,
///   then by id (0 only for the same node); equal first items go on to the
///   rests, the shorter list first.
/// - GetAttributesOf: the asked bits that every item has.
/// - GetUIObjectOf: the single item's DropTarget / ExtractIcon /
///   ContextMenu (E_NOINTERFACE when unset or for several items); a data
///   object: the single item's DataObject, else a TMemoryDataObject with
///   kShellIdListFormat and, when every item has a path, kFileDropFormat.
/// - GetDisplayNameOf: the name; with SHGDN_FORPARSING the Path when there
///   is one (the name with SHGDN_INFOLDER).
/// - SetNameOf: renames a child (HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)
///   when a sibling has the name; E_FAIL with FailRename), gives
///   it a new id and, when it has a path, a new path (and its subtree).
/// - GetDataFromIDList: find data of SFGAO_FILESYSTEM nodes.
///
/// The namespace: GetSpecialFolderLocation by Csidl (or SetSpecialFolder),
/// GetPathFromIDList by Path, GetFileInfo by the icon indexes and TypeName
/// (ImageList is one of the fake's two image lists), GetVolumeLabel from
/// SetVolumeLabel.
class TFakeShell
{
public:
    TFakeShell();
    ~TFakeShell();
    TFakeShell(const TFakeShell&) = delete;
    TFakeShell& operator=(const TFakeShell&) = delete;

    TFakeNode& Desktop();
    /// The interface to put in place (SetShellNamespace, or TFakeShellScope).
    std::shared_ptr<IShellNamespace> Namespace() const;
    /// The folder of a node, as BindToObject would give it (switches apply
    /// only to calls on it, not to getting it).
    std::shared_ptr<IShellFolder> FolderOf(TFakeNode& node) const;

    /// The node that a list from the desktop names; null when none.
    TFakeNode* Resolve(TItemIdPosition absoluteList) const;
    /// The node at "name/name/..." below the desktop; null when none.
    TFakeNode* Find(const std::string& namePath) const;

    /// Another CSIDL answered with `node` (besides its own Csidl).
    void SetSpecialFolder(int csidl, TFakeNode& node);
    void SetVolumeLabel(const std::string& rootPath, const std::string& label);

    /// GetDesktopFolder fails while set.
    void SetDesktopMissing(bool missing);
    /// GetFileInfo fails for every list while set.
    void SetFileInfoFailing(bool failing);

    TFakeShellCounters& Counters();
    /// The image lists that GetFileInfo hands out.
    const TSysImageList* SmallImageList() const;
    const TSysImageList* LargeImageList() const;

private:
    std::shared_ptr<TFakeShellState> state_;
};

/// Puts a fake in place for the life of the scope, then the real namespace
/// back (SetShellNamespace(nullptr)).
class TFakeShellScope
{
public:
    explicit TFakeShellScope(const TFakeShell& shell);
    ~TFakeShellScope();
    TFakeShellScope(const TFakeShellScope&) = delete;
    TFakeShellScope& operator=(const TFakeShellScope&) = delete;
};
