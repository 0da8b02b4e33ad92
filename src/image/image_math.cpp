#include "image/image_math.h"
