#include "app/TML.h"
