// Moving local files and folders to the desktop trash (the freedesktop trash layout),
// so a delete from the local panel can be undone from the file manager.
#pragma once

#include <string>

// Moves the file or folder (with everything in it) to the trash. True on success. `confirm`
// is kept for callers that ask first; the trash itself never asks. Raises EVarnelloError
// "Tried to recycle file: <path>\r\n<reason>" when the move fails with an exception.
bool RecycleFile(const std::string& path, bool confirm);
