#include "app/Unt_Main.h"
