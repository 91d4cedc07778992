// Paths in the tool's one internal form: UTF-8, "/" between segments, a
// leading "/" for an absolute path (/C:/Users/Ann, /UNC/server/share). They
// enter the form where the system hands them over and leave it only at a
// system call (path_to_long_wide) or for display (path_to_display).
//
// Every result is a scratch string of the calling thread unless said
// otherwise; "none" is a null pointer.
#pragma once

#include <wchar.h>

// The normalised form: no empty, "." or ".." segments, no trailing "/".
// An empty input is returned itself.
char* path_normalise(const char* path);

// A UTF-16 system path in the internal form, normalised. Null for null.
char* path_from_wide(const wchar_t* wide);

// The "\\?\"-prefixed UTF-16 path for system calls. A relative path is
// taken from the current directory as it was when first needed. None for a
// network path without both server and share (/UNC, /UNC/server), so that
// nothing is made or looked for there.
wchar_t* path_to_long_wide(const char* path);

// The path as the user sees it (backslashes, no "\\?\"), UTF-8 and UTF-16.
char* path_to_display(const char* path);
wchar_t* path_to_display_wide(const char* path);

// The text before the last "/", or none when there is none.
char* path_parent(const char* path);

// a and b joined by "/". When a is none or empty b itself comes back, else
// when b is none or empty a itself.
const char* path_join(const char* a, const char* b);
// a, b and c joined; with an empty part, path_join of the other two.
const char* path_join3(const char* a, const char* b, const char* c);

// The path with ".repair" appended; none for none or an empty path.
char* repair_name(const char* path);
// The path with ".old" appended. The path must not be none.
char* old_name(const char* path);
// What a download is written under until it is swapped into place.
extern const char PATH_STAGE_SUFFIX[];
// The path with PATH_STAGE_SUFFIX appended. The path must not be none.
char* stage_name(const char* path);

// Creates the folder and any missing parents. True when it exists now, or
// something of that name already did.
bool make_directories(const char* path);

// True when anything (file or folder) exists at the internal path.
bool path_exists(const char* path);
// Deletes the file at the internal path. True when nothing is there (also
// for none) or the file was deleted.
bool path_delete_if_present(const char* path);

// Forgets the cached current directory (tests that change it).
void path_reset_current_directory(void);
// Takes the system path as the cached current directory until the next
// reset (tests of places the process cannot go, such as a network share).
void path_use_current_directory(const wchar_t* system_path);
