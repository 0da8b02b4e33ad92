// The tests' hold on where the inference runtime is loaded from. Compiled
// only into the internal library they link (bl_internal), never into the
// shipped one.
#ifndef BL_RUNTIME_LOADER_TESTING_H
#define BL_RUNTIME_LOADER_TESTING_H

// Load the runtime from this file (UTF-8) instead (none restores the normal
// search). Takes effect for the next load attempt; a runtime already loaded
// stays loaded.
void bl_runtime_set_path_for_testing(const char* path);

#endif
