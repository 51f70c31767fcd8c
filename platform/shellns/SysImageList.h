#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string_view>

class TSysImageList;

// The process-wide icon registry behind TSysImageList (platform/ShellNs.h):
// one index per distinct icon, small 16 px and large 32 px, filled from the
// freedesktop icon theme, then from the standard icons the application
// provides, then from a drawn document, so that every item has an icon on a
// bare system. Used on the UI thread only.
//
// At first use, when the process has no real icon theme (an empty name or
// "hicolor", as under a bare X server or the offscreen platform), a theme
// with colour icons found on the theme search paths is put in place. Before a
// QGuiApplication exists the theme cannot be read: icons are then the bundled
// drawings and FileIconIndex answers the document (index 0), uncached.

/// The icons the namespace gives its special items and volumes.
enum class TSysIcon
{
    Document, // index 0: a file whose type has no icon
    Folder,
    FolderOpen,
    Desktop,
    Computer,
    Home,
    Network,
    TrashEmpty,
    TrashFull,
    DriveFixed,
    DriveRemovable,
    DriveOptical,
    DriveNetwork
};

/// The index of one of the namespace's own icons.
int SysIconIndex(TSysIcon icon);

/// The index of a file's icon by its name only (never its content): the MIME
/// type's icon, else its generic icon, else the document icon. Cached per
/// extension, so a folder of many files costs one theme lookup per type.
int FileIconIndex(std::string_view fileName);

/// The type name of a file by its name only, from the MIME database's
/// localised comment; cached per extension like FileIconIndex.
QString FileTypeName(std::string_view fileName);

/// The index of the icon named by `themeNames` (tried in order), registering
/// it at the first request; when the theme has none of the names, the
/// standard icon of `fallback` stands in (the document icon is the last
/// resort either way).
int SysIconIndexOfNames(const QStringList& themeNames,
                        std::optional<TSysIcon> fallback = std::nullopt);

/// Gives the standard icon of the application's look for one of the
/// namespace's icons, or a null icon when it has none.
using TStandardIconProvider = std::function<QIcon(TSysIcon)>;

/// Sets the provider of standard icons (null for none, the default); icons
/// already resolved are resolved again at their next request.
void SetStandardIconProvider(TStandardIconProvider provider);

/// The process-wide image lists: the small (16 px) or large (32 px) one.
const TSysImageList& SysImageList(bool large);

/// The number of MIME database lookups made so far by FileIconIndex and
/// FileTypeName (cache misses); lets tests and benchmarks see the cache work.
int SysImageListLookupCount();
