#include "app/PlayQueue.h"
