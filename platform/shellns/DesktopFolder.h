#pragma once

#include "platform/shellns/VirtualFolder.h"

// The desktop, the root of the namespace: the four special folders, then
// the entries of the user's desktop directory.

/// Whether a kind is one of the special folders on the desktop.
bool IsSpecial(TNsItemKind kind);

/// The icon index of a special folder (the trash shows whether it is full).
int SpecialIcon(const TNsEnvironment& environment, TNsItemKind kind);

class TDesktopFolder : public TVirtualFolder
{
public:
    using TVirtualFolder::TVirtualFolder;

    HRESULT ParseDisplayName(QWidget* owner, const std::string& name, TItemIdList& list) override;
    HRESULT EnumObjects(QWidget* owner, uint32_t flags,
                        std::shared_ptr<IEnumIDList>& children) override;

protected:
    bool Owns(const TNsItem& item) const override;
    HRESULT BindChild(const TNsItem& item, TItemIdPosition position,
                      std::shared_ptr<IShellFolder>& folder) override;
    int CompareChildren(int column, const TNsItem& first, const TNsItem& second) override;
    bool ChildSortKeys(int column, const std::vector<TNsItem>& items,
                       std::vector<TSortKey>& keys) override;
    HRESULT ChildAttributes(const TNsItem& item, TItemIdPosition position, uint32_t asked,
                            uint32_t& attributes) override;
    HRESULT ChildDisplayName(const TNsItem& item, TItemIdPosition position, uint32_t flags,
                             std::string& name) override;
    HRESULT OwnDisplayName(uint32_t flags, std::string& name) override;
    int ChildIcon(const TNsItem& item, bool open) override;
    HRESULT ChildData(const TNsItem& item, TItemIdPosition position, TWin32FindData& data) override;
    std::shared_ptr<IShellFolder> EntryFolder() override;
};
