#include "image/image_warp.h"
