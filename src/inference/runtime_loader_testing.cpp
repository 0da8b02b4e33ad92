#include "inference/runtime_loader_testing.h"

#include "inference/runtime_loader.h"

void bl_runtime_set_path_for_testing(const char* path) { g_bl_runtime_override = path ? path : ""; }
