#pragma once

#include "platform/shellns/VirtualFolder.h"

#include <map>

// The trash folder: the files of the freedesktop Trash, shown by the names
// they had.

/// Whether the Trash holds anything.
bool TrashHasFiles(const TNsEnvironment& environment);

class TTrashFolder : public TVirtualFolder
{
public:
    using TVirtualFolder::TVirtualFolder;

    HRESULT EnumObjects(QWidget* owner, uint32_t flags,
                        std::shared_ptr<IEnumIDList>& children) override;

protected:
    bool Owns(const TNsItem& item) const override { return item.Kind == TNsItemKind::TrashEntry; }
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

private:
    const std::string& OriginalName(const std::string& name);

    std::map<std::string, std::string> originalNames_;
};
