#include "app/Mpris.h"

#include "app/Unt_Main.h"

TMprisService::TMprisService(Tfrm_Main& window) : QObject(&window) {}
