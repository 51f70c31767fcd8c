#pragma once

#include <QCursor>
#include <QGuiApplication>

/// The busy cursor for the life of a scope, for work that runs on the UI
/// thread and may take a while (an enumeration of a slow folder). Scopes
/// nest.
class TWaitCursor
{
public:
    TWaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};
