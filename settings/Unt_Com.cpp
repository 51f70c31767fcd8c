#include "settings/Unt_Com.h"
