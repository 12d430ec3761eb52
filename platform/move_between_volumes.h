// A rename that the system refused because the target lies on another volume, done as Windows
// does it for a file: a copy, then the source deleted. Used by the front functions MoveFile and
// ReplaceFile; not for use elsewhere.
#pragma once

namespace platform {

// The copy goes to a new name beside the target and is flushed, then takes the target's name
// (replacing an existing target only when `replace` says so) and that name is flushed; only then
// is the source deleted. At no moment is the target gone before the source's bytes stand in its
// place. A folder is not moved (error 17, as the system answered). When the source cannot be
// deleted afterwards the move still succeeds and the source stays, as MoveFileA leaves it.
bool MoveBetweenVolumes(const char* source, const char* target, bool replace);

}  // namespace platform
