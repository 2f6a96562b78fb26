#pragma once
// The folder walk of `corvella-tags show -r`: the audio files below a folder, depth-first like
// the editor's scanner (a subfolder is walked where it stands among its folder's entries), but
// with each folder's entries in byte order of their names so that the output is stable.
// Hidden entries are included. Links to folders are followed, but no folder is walked twice,
// which also ends link cycles; nesting deeper than kMaxFolderDepth is not entered. What cannot
// be listed is skipped with a warning and the walk goes on.

#include <string>
#include <vector>

constexpr int kMaxFolderDepth = 256;

void CollectAudioFiles(const std::string &Folder, std::vector<std::string> &Files, std::vector<std::string> &Warnings);
