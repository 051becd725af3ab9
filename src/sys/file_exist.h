// Whether a file or device node can be opened.
#pragma once

// 1 when path can be opened for reading, else 0. A device node whose device
// has gone counts as absent, a directory as present.
int CheckFileExist(const char* path);
