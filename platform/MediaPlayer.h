#pragma once
#include "platform/IMediaPlayer.h"
