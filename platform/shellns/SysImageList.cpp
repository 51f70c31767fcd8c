#include "platform/shellns/SysImageList.h"

#include "platform/core/PathCodec.h"
#include "platform/shellns/ShellNs.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

// Icons painted on demand, so that the last-resort document and the overlays
// exist even without any theme or style, and even before (or without) a
// QGuiApplication: nothing is drawn until a pixmap is asked for.
enum class TDrawnKind
{
    Document,
    LinkArrow,
    Shared
};

class TDrawnIconEngine final : public QIconEngine
{
public:
    explicit TDrawnIconEngine(TDrawnKind kind) : kind_(kind) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal w = rect.width();
        const qreal h = rect.height();
        painter->translate(rect.topLeft());
        switch (kind_) {
        case TDrawnKind::Document: {
            const qreal fold = w * 0.3;
            QPainterPath page;
            page.moveTo(w * 0.15, h * 0.05);
            page.lineTo(w * 0.85 - fold, h * 0.05);
            page.lineTo(w * 0.85, h * 0.05 + fold);
            page.lineTo(w * 0.85, h * 0.95);
            page.lineTo(w * 0.15, h * 0.95);
            page.closeSubpath();
            painter->setPen(QPen(QColor(90, 90, 90), qMax(1.0, w / 16)));
            painter->setBrush(Qt::white);
            painter->drawPath(page);
            painter->drawLine(QPointF(w * 0.85 - fold, h * 0.05),
                              QPointF(w * 0.85 - fold, h * 0.05 + fold));
            painter->drawLine(QPointF(w * 0.85 - fold, h * 0.05 + fold),
                              QPointF(w * 0.85, h * 0.05 + fold));
            break;
        }
        case TDrawnKind::LinkArrow: {
            // A curved arrow pointing up-right on a white square, bottom-left
            // corner, like the usual shortcut mark.
            const QRectF box(0, h * 0.5, w * 0.5, h * 0.5);
            painter->setPen(QPen(Qt::black, qMax(1.0, w / 32)));
            painter->setBrush(Qt::white);
            painter->drawRect(box.adjusted(0.5, 0.5, -0.5, -0.5));
            const qreal s = box.width();
            QPainterPath arrow;
            arrow.moveTo(box.left() + s * 0.2, box.bottom() - s * 0.15);
            arrow.quadTo(box.left() + s * 0.2, box.top() + s * 0.35, box.left() + s * 0.6,
                         box.top() + s * 0.35);
            painter->setPen(QPen(QColor(0, 90, 200), qMax(1.5, s / 7)));
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(arrow);
            QPolygonF head;
            head << QPointF(box.left() + s * 0.55, box.top() + s * 0.1)
                 << QPointF(box.left() + s * 0.9, box.top() + s * 0.35)
                 << QPointF(box.left() + s * 0.55, box.top() + s * 0.6);
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(0, 90, 200));
            painter->drawPolygon(head);
            break;
        }
        case TDrawnKind::Shared: {
            painter->setPen(QPen(Qt::white, qMax(1.0, w / 32)));
            painter->setBrush(QColor(40, 140, 60));
            painter->drawEllipse(QRectF(0, h * 0.55, w * 0.45, h * 0.45));
            break;
        }
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            return {}; // a QPixmap needs the GUI; asking earlier is harmless
        }
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        }
        return QPixmap::fromImage(image);
    }

    QIconEngine* clone() const override { return new TDrawnIconEngine(kind_); }
    QString key() const override { return QStringLiteral("tunemill-drawn"); }

private:
    TDrawnKind kind_;
};

QIcon DrawnIcon(TDrawnKind kind)
{
    return QIcon(new TDrawnIconEngine(kind));
}

// A theme is usable when it has colour (not only symbolic) versions of the
// basic icons; Qt never falls back from "folder" to "folder-symbolic".
bool ThemeHasColourIcons(const QString& name)
{
    const QString previous = QIcon::themeName();
    QIcon::setThemeName(name);
    const bool usable = QIcon::hasThemeIcon(QStringLiteral("folder")) &&
                        QIcon::hasThemeIcon(QStringLiteral("text-x-generic"));
    if (!usable) {
        QIcon::setThemeName(previous);
    }
    return usable;
}

// Without a desktop session Qt reports no theme (or bare hicolor, which holds
// application icons only), and every lookup would land on a fallback. Pick an
// installed theme with colour icons instead, preferring the common ones.
void EnsureIconTheme()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    // Platform plugins without a desktop theme (offscreen, minimal) give no
    // search paths beyond the resources, so no installed theme is found.
    QStringList searchPaths = QIcon::themeSearchPaths();
    const QStringList xdgPaths =
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                  QStandardPaths::LocateDirectory);
    bool pathsAdded = false;
    for (const QString& path : xdgPaths) {
        const QString clean = QDir::cleanPath(path);
        if (!searchPaths.contains(clean) && !searchPaths.contains(clean + QLatin1Char('/'))) {
            searchPaths << clean;
            pathsAdded = true;
        }
    }
    if (pathsAdded) {
        QIcon::setThemeSearchPaths(searchPaths);
    }
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor")) {
        return;
    }
    QStringList candidates = {QStringLiteral("Adwaita"), QStringLiteral("breeze"),
                              QStringLiteral("gnome"), QStringLiteral("oxygen"),
                              QStringLiteral("Tango")};
    QStringList installed;
    for (const QString& path : QIcon::themeSearchPaths()) {
        const QDir dir(path);
        for (const QString& entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            if (entry != QLatin1String("hicolor") && entry != QLatin1String("locolor") &&
                QFileInfo::exists(dir.filePath(entry + QStringLiteral("/index.theme"))) &&
                !installed.contains(entry)) {
                installed << entry;
            }
        }
    }
    for (const QString& name : installed) {
        if (!candidates.contains(name)) {
            candidates << name;
        }
    }
    for (const QString& name : candidates) {
        if (installed.contains(name) && ThemeHasColourIcons(name)) {
            return;
        }
    }
}

struct TIconEntry
{
    QStringList themeNames;
    std::optional<TSysIcon> fallback;
    QIcon icon; // resolved at the first Icon() of this index
};

struct TTypeFacts
{
    QString typeName;
    QString iconName;
    QString genericIconName;
    int iconIndex = -1; // chosen at the first request with a GUI
};

struct TRegistry
{
    std::vector<TIconEntry> entries;
    QHash<QString, int> indexOfKey;
    QHash<QString, TTypeFacts> typeOfExtension;
    QIcon document;
    QIcon overlays[2];
    TStandardIconProvider standardIcons;
    int lookups = 0;
};

QString EntryKey(const QStringList& themeNames, std::optional<TSysIcon> fallback)
{
    return themeNames.join(QLatin1Char('\n')) + QLatin1Char('\n') +
           QString::number(fallback ? static_cast<int>(*fallback) : -1);
}

int Register(TRegistry& registry, const QStringList& themeNames, std::optional<TSysIcon> fallback)
{
    const QString key = EntryKey(themeNames, fallback);
    const auto found = registry.indexOfKey.constFind(key);
    if (found != registry.indexOfKey.constEnd()) {
        return *found;
    }
    const int index = static_cast<int>(registry.entries.size());
    registry.entries.push_back({themeNames, fallback, {}});
    registry.indexOfKey.insert(key, index);
    return index;
}

// The theme names of the namespace's own icons, tried in order.
struct TSysIconNames
{
    TSysIcon icon;
    std::initializer_list<const char*> themeNames;
};

const TSysIconNames kSysIconNames[] = {
    {TSysIcon::Document, {"text-x-generic"}},
    {TSysIcon::Folder, {"folder"}},
    {TSysIcon::FolderOpen, {"folder-open"}},
    {TSysIcon::Desktop, {"user-desktop"}},
    {TSysIcon::Computer, {"computer"}},
    {TSysIcon::Home, {"user-home"}},
    {TSysIcon::Network, {"network-workgroup"}},
    {TSysIcon::TrashEmpty, {"user-trash"}},
    {TSysIcon::TrashFull, {"user-trash-full"}},
    {TSysIcon::DriveFixed, {"drive-harddisk"}},
    {TSysIcon::DriveRemovable, {"drive-removable-media"}},
    {TSysIcon::DriveOptical, {"drive-optical", "media-optical"}},
    {TSysIcon::DriveNetwork, {"folder-remote", "network-server"}},
};

QStringList ThemeNamesOf(TSysIcon icon)
{
    QStringList names;
    for (const TSysIconNames& row : kSysIconNames) {
        if (row.icon == icon) {
            for (const char* name : row.themeNames) {
                names << QLatin1String(name);
            }
        }
    }
    return names;
}

int RegisterSysIcon(TRegistry& registry, TSysIcon icon)
{
    return Register(registry, ThemeNamesOf(icon), icon);
}

TRegistry& Registry()
{
    static TRegistry registry = [] {
        TRegistry fresh;
        fresh.document = DrawnIcon(TDrawnKind::Document);
        RegisterSysIcon(fresh, TSysIcon::Document);
        return fresh;
    }();
    return registry;
}

// Every theme query loads pixmaps, which abort the process before a
// QGuiApplication exists; until then only the bundled icons are given.
bool ThemeUsable()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        return false;
    }
    EnsureIconTheme();
    return true;
}

QIcon ThemeIcon(const QStringList& names)
{
    if (!ThemeUsable()) {
        return {};
    }
    for (const QString& name : names) {
        if (QIcon::hasThemeIcon(name)) {
            return QIcon::fromTheme(name);
        }
    }
    return {};
}

QIcon Resolve(TRegistry& registry, const TIconEntry& entry)
{
    QIcon icon = ThemeIcon(entry.themeNames);
    if (icon.isNull() && entry.fallback && registry.standardIcons) {
        icon = registry.standardIcons(*entry.fallback);
    }
    return icon.isNull() ? registry.document : icon;
}

// The extension that the cache is keyed by: after the last '.', lower-cased.
// A leading dot marks a hidden file, not an extension (".bashrc" has none).
QString ExtensionKey(std::string_view fileName)
{
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    return PathToQString(std::string(fileName.substr(dot + 1))).toLower();
}

// The MIME type is looked up for a stand-in name carrying only the
// extension, so the cached answer depends on nothing but the key (a whole-name
// glob such as one for "CMakeLists.txt" would otherwise decide the type of
// every later ".txt" file).
TTypeFacts& TypeFacts(std::string_view fileName)
{
    TRegistry& registry = Registry();
    const QString key = ExtensionKey(fileName);
    const auto found = registry.typeOfExtension.find(key);
    if (found != registry.typeOfExtension.end()) {
        return *found;
    }
    ++registry.lookups;
    static const QMimeDatabase database;
    const QString standIn = key.isEmpty() ? QStringLiteral("file") : QStringLiteral("file.") + key;
    const QMimeType type = database.mimeTypeForFile(standIn, QMimeDatabase::MatchExtension);
    TTypeFacts facts;
    facts.typeName = type.comment();
    if (facts.typeName.isEmpty()) {
        facts.typeName = type.name();
    }
    facts.iconName = type.iconName();
    facts.genericIconName = type.genericIconName();
    return *registry.typeOfExtension.insert(key, facts);
}

// One index per icon the theme really has, so that types without an icon of
// their own share the generic one (or the document) instead of each taking
// an index that shows the same picture.
int ChooseIconIndex(TTypeFacts& facts)
{
    if (facts.iconIndex >= 0) {
        return facts.iconIndex;
    }
    if (!ThemeUsable()) {
        return 0;
    }
    TRegistry& registry = Registry();
    if (!facts.iconName.isEmpty() && QIcon::hasThemeIcon(facts.iconName)) {
        facts.iconIndex = Register(registry, {facts.iconName}, TSysIcon::Document);
    } else if (!facts.genericIconName.isEmpty() && QIcon::hasThemeIcon(facts.genericIconName)) {
        facts.iconIndex = Register(registry, {facts.genericIconName}, TSysIcon::Document);
    } else {
        facts.iconIndex = 0;
    }
    return facts.iconIndex;
}

} // namespace

int SysIconIndex(TSysIcon icon)
{
    return RegisterSysIcon(Registry(), icon);
}

int SysIconIndexOfNames(const QStringList& themeNames, std::optional<TSysIcon> fallback)
{
    return Register(Registry(), themeNames, fallback);
}

void SetStandardIconProvider(TStandardIconProvider provider)
{
    TRegistry& registry = Registry();
    registry.standardIcons = std::move(provider);
    for (TIconEntry& entry : registry.entries) {
        entry.icon = QIcon();
    }
}

int FileIconIndex(std::string_view fileName)
{
    return ChooseIconIndex(TypeFacts(fileName));
}

QString FileTypeName(std::string_view fileName)
{
    return TypeFacts(fileName).typeName;
}

int SysImageListLookupCount()
{
    return Registry().lookups;
}

const TSysImageList& SysImageList(bool large)
{
    static const TSysImageList smallList(16);
    static const TSysImageList largeList(32);
    return large ? largeList : smallList;
}

int TSysImageList::Count() const
{
    return static_cast<int>(Registry().entries.size());
}

QIcon TSysImageList::Icon(int index) const
{
    TRegistry& registry = Registry();
    if (index < 0 || index >= static_cast<int>(registry.entries.size())) {
        index = 0;
    }
    TIconEntry& entry = registry.entries[static_cast<size_t>(index)];
    if (!ThemeUsable()) {
        return registry.document;
    }
    if (entry.icon.isNull()) {
        entry.icon = Resolve(registry, entry);
    }
    return entry.icon;
}

QIcon TSysImageList::Overlay(int slot) const
{
    if (slot < 0 || slot > 1) {
        return {};
    }
    if (!ThemeUsable()) {
        return DrawnIcon(slot == 0 ? TDrawnKind::Shared : TDrawnKind::LinkArrow);
    }
    TRegistry& registry = Registry();
    QIcon& overlay = registry.overlays[slot];
    if (overlay.isNull()) {
        overlay = ThemeIcon(
            {slot == 0 ? QStringLiteral("emblem-shared") : QStringLiteral("emblem-symbolic-link")});
        if (overlay.isNull()) {
            overlay = DrawnIcon(slot == 0 ? TDrawnKind::Shared : TDrawnKind::LinkArrow);
        }
    }
    return overlay;
}
