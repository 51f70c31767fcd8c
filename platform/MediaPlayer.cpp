#include "platform/MediaPlayer.h"
