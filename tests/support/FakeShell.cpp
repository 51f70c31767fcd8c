#include "tests/support/FakeShell.h"

#include "platform/core/FileFacts.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

constexpr uint16_t kItemSize = 8;

int Sign(int64_t value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

template <typename T> int Order(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Lists of ids, first from the outside in; written in the fake's own item form.
TItemIdList ListOfIds(const std::vector<uint32_t>& ids)
{
    TItemIdList list = TItemIdList::Allocate(static_cast<uint16_t>(ids.size() * kItemSize + 2));
    uint8_t* bytes = list.MutableData();
    for (const uint32_t id : ids) {
        bytes[0] = kItemSize;
        bytes[1] = 0;
        bytes[2] = 'F';
        bytes[3] = 'k';
        for (int shift = 0; shift < 4; ++shift)
            bytes[4 + shift] = static_cast<uint8_t>(id >> (8 * shift));
        bytes += kItemSize;
    }
    return list;
}

} // namespace

struct TFakeShellState : std::enable_shared_from_this<TFakeShellState>
{
    std::vector<std::unique_ptr<TFakeNode>> nodes; // every node ever made
    TFakeNode* desktop = nullptr;
    std::map<uint32_t, TFakeNode*> attached; // by id; detached nodes are not here
    uint32_t nextId = 1;
    std::map<int, TFakeNode*> specials;
    std::map<std::string, std::string> labels;
    bool desktopMissing = false;
    bool fileInfoFailing = false;
    TFakeShellCounters counters;
    TSysImageList smallImages{16};
    TSysImageList largeImages{32};

    TFakeNode* NewNode(TFakeNode* parent, std::string name, TFakeNodeOptions options)
    {
        nodes.push_back(std::unique_ptr<TFakeNode>(
            new TFakeNode(*this, parent, std::move(name), std::move(options))));
        TFakeNode* node = nodes.back().get();
        if (parent != nullptr) {
            node->id_ = nextId++;
            attached[node->id_] = node;
        }
        return node;
    }

    // The child of `folder` that one item names; null for foreign or stale bytes.
    TFakeNode* ChildOf(const TFakeNode& folder, TItemIdPosition item) const
    {
        if (item == nullptr || ItemIdCount(item) != kItemSize || item[2] != 'F' || item[3] != 'k')
            return nullptr;
        uint32_t id = 0;
        for (int shift = 0; shift < 4; ++shift)
            id |= static_cast<uint32_t>(item[4 + shift]) << (8 * shift);
        const auto found = attached.find(id);
        if (found == attached.end() || found->second->Parent() != &folder)
            return nullptr;
        return found->second;
    }

    // The node a list names from `folder`; the empty list names the folder.
    TFakeNode* Resolve(TFakeNode& folder, TItemIdPosition list) const
    {
        if (list == nullptr)
            return nullptr;
        TFakeNode* node = &folder;
        for (TItemIdPosition item = list; ItemIdCount(item) != 0; item += kItemSize) {
            node = ChildOf(*node, item);
            if (node == nullptr)
                return nullptr;
        }
        return node;
    }

    // Tree order: a node before its children, children in order.
    void Visit(TFakeNode& node, const std::function<bool(TFakeNode&)>& visitor)
    {
        std::vector<TFakeNode*> pending{&node};
        while (!pending.empty()) {
            TFakeNode* current = pending.back();
            pending.pop_back();
            if (!visitor(*current))
                return;
            const auto& children = current->Children();
            pending.insert(pending.end(), children.rbegin(), children.rend());
        }
    }

    TFakeNode* Special(int csidl)
    {
        if (const auto found = specials.find(csidl); found != specials.end())
            return found->second;
        TFakeNode* match = nullptr;
        Visit(*desktop, [&](TFakeNode& node) {
            if (node.Options.Csidl == csidl)
                match = &node;
            return match == nullptr;
        });
        return match;
    }

    std::shared_ptr<IShellFolder> FolderOf(TFakeNode& node);
    // A new name, a new id (old lists go stale) and the paths below it moved.
    void Rename(TFakeNode& node, const std::string& newName);
};

namespace {

class TFakeEnum : public IEnumIDList
{
public:
    explicit TFakeEnum(std::vector<TItemIdList> items) : items_(std::move(items)) {}
    HRESULT Next(TItemIdList& item) override
    {
        if (next_ >= items_.size())
            return S_FALSE;
        item = std::move(items_[next_++]);
        return S_OK;
    }

private:
    std::vector<TItemIdList> items_;
    size_t next_ = 0;
};

class TFakeExtractIcon : public IExtractIcon
{
public:
    TFakeExtractIcon(std::shared_ptr<TFakeShellState> state,
                     TFakeNodeOptions::TIconLocation location)
        : state_(std::move(state)), location_(location)
    {
    }
    HRESULT GetIconLocation(uint32_t, int& index, uint32_t& outFlags) override
    {
        ++state_->counters.GetIconLocation;
        if (SUCCEEDED(location_.Result)) {
            index = location_.Index;
            outFlags = location_.Flags;
        }
        return location_.Result;
    }

private:
    std::shared_ptr<TFakeShellState> state_;
    TFakeNodeOptions::TIconLocation location_;
};

class TFakeShellIcon : public IShellIcon
{
public:
    TFakeShellIcon(std::shared_ptr<TFakeShellState> state, TFakeNode* folder)
        : state_(std::move(state)), folder_(folder)
    {
    }
    HRESULT GetIconOf(TItemIdPosition item, uint32_t, int& index) override
    {
        ++state_->counters.GetIconOf;
        const TFakeNode* node = state_->Resolve(*folder_, item);
        if (node == nullptr || node == folder_)
            return E_INVALIDARG;
        if (node->Options.ShellIconIndex < 0)
            return S_FALSE;
        index = node->Options.ShellIconIndex;
        return S_OK;
    }

private:
    std::shared_ptr<TFakeShellState> state_;
    TFakeNode* folder_;
};

class TFakeIconOverlay : public IShellIconOverlay
{
public:
    TFakeIconOverlay(std::shared_ptr<TFakeShellState> state, TFakeNode* folder)
        : state_(std::move(state)), folder_(folder)
    {
    }
    HRESULT GetOverlayIndex(TItemIdPosition item, int& index) override
    {
        ++state_->counters.GetOverlayIndex;
        const TFakeNode* node = state_->Resolve(*folder_, item);
        if (node == nullptr || node == folder_)
            return E_INVALIDARG;
        if (node->Options.OverlayIndex < 1)
            return S_FALSE;
        index = node->Options.OverlayIndex;
        return S_OK;
    }

private:
    std::shared_ptr<TFakeShellState> state_;
    TFakeNode* folder_;
};

class TFakeFolder : public IShellFolder
{
public:
    TFakeFolder(std::shared_ptr<TFakeShellState> state, TFakeNode* node)
        : state_(std::move(state)), node_(node)
    {
    }

    HRESULT ParseDisplayName(QWidget*, const std::string& name, TItemIdList& list) override
    {
        ++state_->counters.ParseDisplayName;
        if (node_ == state_->desktop && !name.empty()) {
            std::string path = name;
            if (path.size() > 1 && path.back() == '/')
                path.pop_back();
            TFakeNode* match = nullptr;
            state_->Visit(*node_, [&](TFakeNode& node) {
                if (&node != node_ && node.Options.Path == path)
                    match = &node;
                return match == nullptr;
            });
            if (match != nullptr) {
                list = match->AbsoluteIdList();
                return S_OK;
            }
        }
        if (TFakeNode* child = node_->Child(name)) {
            list = child->RelativeIdList();
            return S_OK;
        }
        return E_INVALIDARG;
    }

    HRESULT EnumObjects(QWidget*, uint32_t flags, std::shared_ptr<IEnumIDList>& children) override
    {
        ++state_->counters.EnumObjects;
        if (node_->Options.FailEnum)
            return E_FAIL;
        std::vector<TItemIdList> items;
        for (TFakeNode* child : node_->Children()) {
            const bool wanted = child->IsFolder() ? (flags & SHCONTF_FOLDERS) != 0
                                                  : (flags & SHCONTF_NONFOLDERS) != 0;
            const bool hidden = (child->Options.Attributes & SFGAO_HIDDEN) != 0;
            if (wanted && (!hidden || (flags & SHCONTF_INCLUDEHIDDEN) != 0))
                items.push_back(child->RelativeIdList());
        }
        children = std::make_shared<TFakeEnum>(std::move(items));
        return S_OK;
    }

    HRESULT BindToObject(TItemIdPosition list, std::shared_ptr<IShellFolder>& folder) override
    {
        ++state_->counters.BindToObject;
        if (list == nullptr)
            return E_INVALIDARG;
        TFakeNode* node = node_;
        for (TItemIdPosition item = list; ItemIdCount(item) != 0; item += kItemSize) {
            node = state_->ChildOf(*node, item);
            if (node == nullptr)
                return E_INVALIDARG;
            if (node->Options.FailBind || !node->IsFolder())
                return E_FAIL;
        }
        if (node == node_)
            return E_INVALIDARG;
        folder = state_->FolderOf(*node);
        return S_OK;
    }

    HRESULT CompareIDs(int column, TItemIdPosition first, TItemIdPosition second) override
    {
        ++state_->counters.CompareIDs;
        if (first == nullptr || second == nullptr)
            return E_INVALIDARG;
        TFakeNode* folder = node_;
        for (;;) {
            if (folder->Options.FailCompare)
                return E_FAIL;
            const bool firstEnded = ItemIdCount(first) == 0;
            const bool secondEnded = ItemIdCount(second) == 0;
            if (firstEnded || secondEnded)
                return CompareResult(Order(!firstEnded, !secondEnded));
            TFakeNode* a = state_->ChildOf(*folder, first);
            TFakeNode* b = state_->ChildOf(*folder, second);
            if (a == nullptr || b == nullptr)
                return E_INVALIDARG;
            if (a != b)
                return CompareResult(CompareNodes(column, *a, *b));
            folder = a;
            first += kItemSize;
            second += kItemSize;
        }
    }

    HRESULT GetAttributesOf(std::span<const TItemIdPosition> items, uint32_t& attributes) override
    {
        ++state_->counters.GetAttributesOf;
        if (items.empty())
            return E_INVALIDARG;
        uint32_t common = ~0u;
        for (const TItemIdPosition item : items) {
            const TFakeNode* node = state_->Resolve(*node_, item);
            if (node == nullptr)
                return E_INVALIDARG;
            if (node->Options.FailAttributes)
                return E_FAIL;
            common &= node->Options.Attributes;
        }
        attributes &= common;
        return S_OK;
    }

    HRESULT GetUIObjectOf(QWidget*, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IDropTarget>& target) override
    {
        ++state_->counters.GetUIObjectOf;
        const TFakeNode* node = Single(items);
        if (node == nullptr || !node->Options.DropTarget)
            return E_NOINTERFACE;
        target = node->Options.DropTarget;
        return S_OK;
    }

    HRESULT GetUIObjectOf(QWidget*, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IDataObject>& data) override
    {
        ++state_->counters.GetUIObjectOf;
        if (const TFakeNode* node = Single(items); node != nullptr && node->Options.DataObject) {
            data = node->Options.DataObject;
            return S_OK;
        }
        if (items.empty())
            return E_INVALIDARG;
        QByteArray uris;
        bool allPaths = true;
        for (const TItemIdPosition item : items) {
            const TFakeNode* node = state_->Resolve(*node_, item);
            if (node == nullptr || node == node_)
                return E_INVALIDARG;
            const std::string& path = node->Options.Path;
            allPaths = allPaths && !path.empty();
            uris += "file://" +
                    QByteArray(path.data(), static_cast<qsizetype>(path.size()))
                        .toPercentEncoding("/") +
                    "\r\n";
        }
        auto memory = std::make_shared<TMemoryDataObject>();
        const TItemIdList parent = node_->AbsoluteIdList();
        memory->SetData(kShellIdListFormat,
                        EncodeShellIdListArray(parent.Data(), {items.begin(), items.end()}));
        if (allPaths)
            memory->SetData(kFileDropFormat, uris);
        data = std::move(memory);
        return S_OK;
    }

    HRESULT GetUIObjectOf(QWidget*, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IExtractIcon>& extractor) override
    {
        ++state_->counters.GetUIObjectOf;
        const TFakeNode* node = Single(items);
        if (node == nullptr || !node->Options.ExtractIcon)
            return E_NOINTERFACE;
        extractor = std::make_shared<TFakeExtractIcon>(state_, *node->Options.ExtractIcon);
        return S_OK;
    }

    HRESULT GetUIObjectOf(QWidget*, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IContextMenu>& menu) override
    {
        ++state_->counters.GetUIObjectOf;
        const TFakeNode* node = Single(items);
        if (node == nullptr || !node->Options.ContextMenu)
            return E_NOINTERFACE;
        menu = node->Options.ContextMenu;
        return S_OK;
    }

    HRESULT GetDisplayNameOf(TItemIdPosition item, uint32_t flags, std::string& name) override
    {
        ++state_->counters.GetDisplayNameOf;
        const TFakeNode* node = state_->Resolve(*node_, item);
        if (node == nullptr)
            return E_INVALIDARG;
        if (node->Options.FailDisplayName)
            return E_FAIL;
        const bool parsing = (flags & SHGDN_FORPARSING) != 0;
        const bool inFolder = (flags & SHGDN_INFOLDER) != 0;
        name =
            parsing && !inFolder && !node->Options.Path.empty() ? node->Options.Path : node->Name();
        return S_OK;
    }

    HRESULT SetNameOf(QWidget*, TItemIdPosition item, const std::string& newName, uint32_t,
                      TItemIdList* newItem) override
    {
        ++state_->counters.SetNameOf;
        TFakeNode* node = state_->ChildOf(*node_, item);
        if (node == nullptr || ItemIdCount(item + kItemSize) != 0 || newName.empty() ||
            newName.find('/') != std::string::npos)
            return E_INVALIDARG;
        if (node->Options.FailRename)
            return E_FAIL;
        if (TFakeNode* sibling = node_->Child(newName); sibling != nullptr && sibling != node)
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        state_->Rename(*node, newName);
        if (newItem != nullptr)
            *newItem = node->RelativeIdList();
        return S_OK;
    }

    HRESULT GetDataFromIDList(TItemIdPosition item, TWin32FindData& data) override
    {
        ++state_->counters.GetDataFromIDList;
        const TFakeNode* node = state_->Resolve(*node_, item);
        if (node == nullptr || node == node_ || (node->Options.Attributes & SFGAO_FILESYSTEM) == 0)
            return E_INVALIDARG;
        data = {};
        data.FileAttributes =
            node->Options.FileAttributes | (node->IsFolder() ? FILE_ATTRIBUTE_DIRECTORY : 0u);
        data.LastWriteTime = node->Options.LastWriteTime;
        data.FileSize = node->Options.FileSize;
        data.FileName = node->Name();
        return S_OK;
    }

    std::shared_ptr<IShellIcon> QueryShellIcon() override
    {
        if (!node_->Options.OffersShellIcon)
            return nullptr;
        return std::make_shared<TFakeShellIcon>(state_, node_);
    }

    std::shared_ptr<IShellIconOverlay> QueryIconOverlay() override
    {
        if (!node_->Options.OffersIconOverlay)
            return nullptr;
        return std::make_shared<TFakeIconOverlay>(state_, node_);
    }

private:
    const TFakeNode* Single(std::span<const TItemIdPosition> items) const
    {
        if (items.size() != 1)
            return nullptr;
        const TFakeNode* node = state_->Resolve(*node_, items[0]);
        return node == node_ ? nullptr : node;
    }

    static int CompareNodes(int column, const TFakeNode& a, const TFakeNode& b)
    {
        if (a.IsFolder() != b.IsFolder())
            return a.IsFolder() ? -1 : 1;
        int order = 0;
        switch (column) {
        case 1:
            order = Order(a.Options.FileSize, b.Options.FileSize);
            break;
        case 2:
            order = Sign(a.Options.TypeName.compare(b.Options.TypeName));
            break;
        case 3:
            order = Order(a.Options.LastWriteTime, b.Options.LastWriteTime);
            break;
        case 4:
            order = Order(a.Options.Attributes, b.Options.Attributes);
            break;
        default:
            break;
        }
        if (order == 0)
            order = Sign(a.Name().compare(b.Name()));
        if (order == 0)
            order = Order(a.Id(), b.Id());
        return order;
    }

    std::shared_ptr<TFakeShellState> state_;
    TFakeNode* node_;
};

} // namespace

std::shared_ptr<IShellFolder> TFakeShellState::FolderOf(TFakeNode& node)
{
    return std::make_shared<TFakeFolder>(shared_from_this(), &node);
}

// --- TFakeNode ---

TFakeNode::TFakeNode(TFakeShellState& state, TFakeNode* parent, std::string name,
                     TFakeNodeOptions options)
    : Options(std::move(options)), state_(state), parent_(parent), name_(std::move(name))
{
}

TFakeNode& TFakeNode::AddChild(const std::string& name, TFakeNodeOptions options)
{
    if (options.Path.empty() && (options.Attributes & SFGAO_FILESYSTEM) != 0 &&
        !Options.Path.empty())
        options.Path = Options.Path + (Options.Path.back() == '/' ? "" : "/") + name;
    TFakeNode* child = state_.NewNode(this, name, std::move(options));
    children_.push_back(child);
    return *child;
}

TFakeNode& TFakeNode::AddFolder(const std::string& name, TFakeNodeOptions options)
{
    options.Attributes |= SFGAO_FOLDER;
    return AddChild(name, std::move(options));
}

TFakeNode& TFakeNode::AddFile(const std::string& name, TFakeNodeOptions options)
{
    return AddChild(name, std::move(options));
}

void TFakeNode::Remove(TFakeNode& child)
{
    const auto found = std::find(children_.begin(), children_.end(), &child);
    if (found == children_.end())
        return;
    children_.erase(found);
    state_.Visit(child, [this](TFakeNode& node) {
        state_.attached.erase(node.id_);
        return true;
    });
}

TFakeNode* TFakeNode::Child(const std::string& name) const
{
    for (TFakeNode* child : children_)
        if (child->name_ == name)
            return child;
    return nullptr;
}

int TFakeNode::Level() const
{
    int level = 0;
    for (const TFakeNode* node = parent_; node != nullptr; node = node->parent_)
        ++level;
    return level;
}

TItemIdList TFakeNode::AbsoluteIdList() const
{
    std::vector<uint32_t> ids;
    for (const TFakeNode* node = this; node->parent_ != nullptr; node = node->parent_)
        ids.push_back(node->id_);
    std::reverse(ids.begin(), ids.end());
    return ListOfIds(ids);
}

TItemIdList TFakeNode::RelativeIdList() const
{
    return parent_ == nullptr ? ListOfIds({}) : ListOfIds({id_});
}

void TFakeShellState::Rename(TFakeNode& node, const std::string& newName)
{
    const std::string oldPath = node.Options.Path;
    node.name_ = newName;
    attached.erase(node.id_);
    node.id_ = nextId++;
    attached[node.id_] = &node;
    if (oldPath.empty())
        return;
    const size_t slash = oldPath.rfind('/');
    const std::string newPath =
        (slash == std::string::npos ? std::string() : oldPath.substr(0, slash + 1)) + newName;
    Visit(node, [&](TFakeNode& inner) {
        std::string& path = inner.Options.Path;
        if (path.compare(0, oldPath.size(), oldPath) == 0 &&
            (path.size() == oldPath.size() || path[oldPath.size()] == '/'))
            path = newPath + path.substr(oldPath.size());
        return true;
    });
}

// --- The namespace ---

namespace {

class TFakeNamespace : public IShellNamespace
{
public:
    explicit TFakeNamespace(std::shared_ptr<TFakeShellState> state) : state_(std::move(state)) {}

    HRESULT GetDesktopFolder(std::shared_ptr<IShellFolder>& desktop) override
    {
        ++state_->counters.GetDesktopFolder;
        if (state_->desktopMissing)
            return E_FAIL;
        desktop = state_->FolderOf(*state_->desktop);
        return S_OK;
    }

    HRESULT GetSpecialFolderLocation(QWidget*, int csidl, TItemIdList& list) override
    {
        ++state_->counters.GetSpecialFolderLocation;
        const TFakeNode* node = state_->Special(csidl);
        if (node == nullptr)
            return E_INVALIDARG;
        list = node->AbsoluteIdList();
        return S_OK;
    }

    bool GetPathFromIDList(TItemIdPosition list, std::string& path) override
    {
        ++state_->counters.GetPathFromIDList;
        const TFakeNode* node = state_->Resolve(*state_->desktop, list);
        if (node == nullptr || node->Options.Path.empty())
            return false;
        path = node->Options.Path;
        return true;
    }

    bool GetFileInfo(TItemIdPosition list, uint32_t flags, TShFileInfo& info) override
    {
        ++state_->counters.GetFileInfo;
        const TFakeNode* node = state_->Resolve(*state_->desktop, list);
        if (state_->fileInfoFailing || node == nullptr || (flags & SHGFI_PIDL) == 0)
            return false;
        if ((flags & SHGFI_SYSICONINDEX) != 0) {
            const bool small = (flags & SHGFI_SMALLICON) != 0;
            const int index = IconIndex(*node, small, (flags & SHGFI_OPENICON) != 0);
            if (index < 0)
                return false;
            info.IconIndex = index;
            info.ImageList = small ? &state_->smallImages : &state_->largeImages;
        }
        if ((flags & SHGFI_TYPENAME) != 0)
            info.TypeName = node->Options.TypeName;
        return true;
    }

    void FlushChangeNotices() override { ++state_->counters.FlushChangeNotices; }

    std::string GetVolumeLabel(const std::string& rootPath) override
    {
        const auto found = state_->labels.find(rootPath);
        return found == state_->labels.end() ? std::string() : found->second;
    }

private:
    static int IconIndex(const TFakeNode& node, bool small, bool open)
    {
        const TFakeNodeOptions& o = node.Options;
        const int smallOpen = o.OpenIconIndex >= 0 ? o.OpenIconIndex : o.IconIndex;
        const int large = o.LargeIconIndex >= 0 ? o.LargeIconIndex : o.IconIndex;
        if (small)
            return open ? smallOpen : o.IconIndex;
        if (!open)
            return large;
        if (o.LargeOpenIconIndex >= 0)
            return o.LargeOpenIconIndex;
        return o.LargeIconIndex >= 0 ? o.LargeIconIndex : smallOpen;
    }

    std::shared_ptr<TFakeShellState> state_;
};

} // namespace

// --- TFakeShell ---

TFakeShell::TFakeShell() : state_(std::make_shared<TFakeShellState>())
{
    state_->desktop = state_->NewNode(
        nullptr, "デスクトップ",
        {.Csidl = 0, .Attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER, .IconIndex = 0});
}

TFakeShell::~TFakeShell() = default;

TFakeNode& TFakeShell::Desktop()
{
    return *state_->desktop;
}

std::shared_ptr<IShellNamespace> TFakeShell::Namespace() const
{
    return std::make_shared<TFakeNamespace>(state_);
}

std::shared_ptr<IShellFolder> TFakeShell::FolderOf(TFakeNode& node) const
{
    return state_->FolderOf(node);
}

TFakeNode* TFakeShell::Resolve(TItemIdPosition absoluteList) const
{
    return state_->Resolve(*state_->desktop, absoluteList);
}

TFakeNode* TFakeShell::Find(const std::string& namePath) const
{
    TFakeNode* node = state_->desktop;
    size_t start = 0;
    while (node != nullptr && start < namePath.size()) {
        const size_t slash = std::min(namePath.find('/', start), namePath.size());
        node = node->Child(namePath.substr(start, slash - start));
        start = slash + 1;
    }
    return node;
}

void TFakeShell::SetSpecialFolder(int csidl, TFakeNode& node)
{
    state_->specials[csidl] = &node;
}

void TFakeShell::SetVolumeLabel(const std::string& rootPath, const std::string& label)
{
    state_->labels[rootPath] = label;
}

void TFakeShell::SetDesktopMissing(bool missing)
{
    state_->desktopMissing = missing;
}

void TFakeShell::SetFileInfoFailing(bool failing)
{
    state_->fileInfoFailing = failing;
}

TFakeShellCounters& TFakeShell::Counters()
{
    return state_->counters;
}

const TSysImageList* TFakeShell::SmallImageList() const
{
    return &state_->smallImages;
}

const TSysImageList* TFakeShell::LargeImageList() const
{
    return &state_->largeImages;
}

TFakeShellScope::TFakeShellScope(const TFakeShell& shell)
{
    SetShellNamespace(shell.Namespace());
}

TFakeShellScope::~TFakeShellScope()
{
    SetShellNamespace(nullptr);
}
