#pragma once

#include "platform/core/ShellResult.h"

#include <QByteArray>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/shellns/ItemIdList.h"

// Data transfer between the browsing controls and the namespace: what is
// dragged or put on the clipboard, and what a drop lands on. Qt's drag events
// call into these; tests drive them directly. A data format is named by its
// MIME type (the registered formats of the other platform have MIME types of
// their own, the file drop is "text/uri-list").

/// Effects of a drag: what the target would do with the data.
constexpr uint32_t DROPEFFECT_NONE = 0;
constexpr uint32_t DROPEFFECT_COPY = 1;
constexpr uint32_t DROPEFFECT_MOVE = 2;
constexpr uint32_t DROPEFFECT_LINK = 4;

constexpr HRESULT DRAGDROP_S_DROP = 0x00040100;
constexpr HRESULT DRAGDROP_S_CANCEL = 0x00040101;
constexpr HRESULT DRAGDROP_S_USEDEFAULTCURSORS = 0x00040102;
/// The answer of QueryGetData for a format that is not offered.
constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064);

/// Data offered in one or more formats.
class IDataObject
{
public:
    virtual ~IDataObject() = default;
    /// S_OK when the data is offered in `format`, else DV_E_FORMATETC.
    virtual HRESULT QueryGetData(const QString& format) const = 0;
    /// The bytes in `format`; DV_E_FORMATETC when it is not offered.
    virtual HRESULT GetData(const QString& format, QByteArray& data) const = 0;
};

/// Something that can take a drop. A drag calls DragEnter once, DragOver as
/// it moves, then DragLeave or Drop. `effect` comes in as the effects the
/// source allows and goes out as the one the target would perform. Points
/// are in screen coordinates; `keyState` holds the MK_* bits.
class IDropTarget
{
public:
    virtual ~IDropTarget() = default;
    virtual HRESULT DragEnter(const std::shared_ptr<IDataObject>& data, uint32_t keyState,
                              QPoint point, uint32_t& effect) = 0;
    virtual HRESULT DragOver(uint32_t keyState, QPoint point, uint32_t& effect) = 0;
    virtual HRESULT DragLeave() = 0;
    virtual HRESULT Drop(const std::shared_ptr<IDataObject>& data, uint32_t keyState, QPoint point,
                         uint32_t& effect) = 0;
};

// The data formats of a drag or the clipboard.
inline const QString kFileDropFormat = QStringLiteral("text/uri-list");
inline const QString kShellIdListFormat =
    QStringLiteral("application/x-tunemill-shell-idlist-array");
inline const QString kFileNameMapFormat = QStringLiteral("application/x-tunemill-filenamemap");
inline const QString kFileNameMapWFormat = QStringLiteral("application/x-tunemill-filenamemapw");
inline const QString kShellObjectOffsetsFormat =
    QStringLiteral("application/x-tunemill-shell-object-offsets");
inline const QString kPerformedDropEffectFormat =
    QStringLiteral("application/x-tunemill-performed-dropeffect");

/// Data held in memory, format by format.
class TMemoryDataObject : public IDataObject
{
public:
    void SetData(const QString& format, QByteArray data) { data_[format] = std::move(data); }
    HRESULT QueryGetData(const QString& format) const override;
    HRESULT GetData(const QString& format, QByteArray& data) const override;

private:
    std::map<QString, QByteArray> data_;
};

/// A selection of items of one folder as the shell ID list format carries
/// it: the folder's absolute list and each item's relative list.
struct TShellIdListArray
{
    TItemIdList Parent;
    std::vector<TItemIdList> Items;
};

/// The bytes of the shell ID list format: a 32-bit count, count + 1 32-bit
/// offsets from the start (the parent first), then the lists; little-endian.
QByteArray EncodeShellIdListArray(TItemIdPosition parent,
                                  const std::vector<TItemIdPosition>& items);

/// The selection in bytes that came from outside; none unless the count,
/// every offset and every list lie within the bytes.
std::optional<TShellIdListArray> DecodeShellIdListArray(const QByteArray& bytes);
