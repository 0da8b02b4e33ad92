// Directory listing and directory identity, the parts of walking a frame
// directory that differ between platforms.
#ifndef BL_DIR_LIST_H
#define BL_DIR_LIST_H

// Called once per listed name (the bare file name, without the directory).
// Returning non-zero stops the listing.
typedef int (*bl_dir_visit)(const char* name, void* context);

// Calls `visit` for every entry of `dir` that is not a directory, in the
// order the system lists them. Symbolic links are followed, so a link to a
// directory is skipped; an entry that cannot be inspected is listed (reading
// it will fail later, visibly). Returns 0 when the whole directory was
// listed, -1 when it cannot be opened or read, or the non-zero value with
// which `visit` stopped the listing.
int bl_dir_list(const char* dir, bl_dir_visit visit, void* context);

// 1 when `path` names an existing directory (or a link to one), else 0.
int bl_dir_exists(const char* path);

// 1 when both paths name one existing directory (however spelled: a trailing
// separator, "." segments or a link make no difference), else 0.
int bl_dir_same(const char* a, const char* b);

#endif
