#pragma once

#include "platform/mounts/Mounts.h"
#include "platform/shellns/SysImageList.h"
#include "platform/shellns/VirtualFolder.h"

// The computer folder (one volume per mount) and the network folder (the
// network mounts): folders named by their mount point.

/// The item of a mount, as a volume or a network mount.
TNsItem MountItem(const TMount& mount, TNsItemKind kind);

/// The mount at exactly `mountPoint`; null when none.
const TMount* FindMount(const std::vector<TMount>& mounts, const std::string& mountPoint);

/// The kind of a volume item when its mount is gone: what its flags recorded.
TMountKind KindOfFlags(uint8_t flags);

TSysIcon VolumeIcon(const TNsItem& item);

/// [Computer][Volume m][entries...] for an absolute path, each component
/// examined so that its item carries its facts.
HRESULT ParseAbsolutePath(const TNsEnvironment& environment, const std::string& name,
                          std::vector<TNsItem>& items);

class TMountFolder : public TVirtualFolder
{
public:
    /// `childKind` is Volume for the computer, NetworkMount for the network.
    TMountFolder(std::shared_ptr<const TNsEnvironment> environment, TNsItemKind childKind)
        : TVirtualFolder(std::move(environment)), childKind_(childKind)
    {
    }

    HRESULT ParseDisplayName(QWidget* owner, const std::string& name, TItemIdList& list) override;
    HRESULT EnumObjects(QWidget* owner, uint32_t flags,
                        std::shared_ptr<IEnumIDList>& children) override;

protected:
    bool Owns(const TNsItem& item) const override { return item.Kind == childKind_; }
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

private:
    TNsItemKind childKind_;
};
