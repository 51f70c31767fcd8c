#include "app/Instance.h"

#include "app/Unt_Main.h"

bool HandOverToRunningInstance(const QStringList&)
{
    return false;
}

TInstanceService::TInstanceService(Tfrm_Main& window) : QObject(&window) {}

void OpenFiles(Tfrm_Main&, const QStringList&) {}
