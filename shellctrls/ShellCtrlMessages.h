#pragma once

#include "platform/core/ShellResult.h"

#include <string>

class QWidget;

/// Shows why a rename to `name` failed (the namespace's answer), in a
/// window-modal message box owned by `owner`; returns at once.
void ShowRenameFailure(QWidget* owner, HRESULT result, const std::string& name);
