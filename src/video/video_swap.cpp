#include "brightloom.h"
