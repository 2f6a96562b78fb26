#pragma once
// TFileOperations: the main window's file and folder commands: renaming one file by hand or
// several from a pattern of their tags, copying, moving and deleting the selected files, and
// creating and renaming folders of the folder tree. The commands change the disk through the
// POSIX file calls and keep the editing model in step (records, rows, the shown file and the
// undo steps follow renamed and moved files and leave with deleted ones). Questions go through
// IPrompts, the folder tree through IFolderTree; the window's handlers only call these.
//
// Invariants:
// - A name the user types, or a pattern makes, names an entry of the folder it is meant for:
//   one containing "/" or NUL, or equal to "." or "..", is refused with a message.
// - No rename or move replaces an existing entry: RenameNoReplace uses renameat2 with
//   RENAME_NOREPLACE, or a hard link and unlinking the old name where a file system refuses
//   that flag. Copying is the one command that replaces a file: only after the user chose
//   Overwrite for it, and never a file by itself.
// - Delete moves files to the desktop's trash where there is one, and deletes them otherwise;
//   it asks first, with No as the default answer.
// - A move between file systems copies into a temporary file beside the target, compares it
//   byte for byte with the source, puts it in place without replacing anything, syncs the
//   target's folder, and deletes the source only then; any failure leaves the source as it was
//   and no copy behind.
// - Paths compare exactly, byte for byte: a.mp3 and A.mp3 are two files.
// - Status lines count the files a command actually handled.

#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "app/service/audio_tag.h"
#include "app/prompts.h"

class TEditingModel;

// The folder tree of the main window as the folder commands need it.
class IFolderTree {
public:
  virtual ~IFolderTree() = default;
  // The selected folder's path; empty when none is selected.
  virtual std::string SelectedFolder() const = 0;
  // Selects Path in the tree.
  virtual void SelectFolder(const std::string &Path) = 0;
  // Reads the children of Path's node again (after a folder below it was renamed).
  virtual void RefreshFolder(const std::string &Path) = 0;
};

// Which control called the shared rename handler: the three controls of the single rename
// (toolbar "Rename File...", the context menu's "Rename File...", File -> "Rename...") or any
// other caller, which asks for the rename from tags.
enum TRenameCaller { rcRenameFile, rcTagToName };

// Copies Source to the new file Dest; false with a reason in Error.
using TFileCopyStep = std::function<bool(const std::string &Source, const std::string &Dest, std::string &Error)>;

// How MoveFileNoReplace moves a file. The copy step is CopyFileFast unless one is given;
// AlwaysCopy takes the path used between file systems even within one (for tests).
struct TMoveOptions {
  TFileCopyStep Copy;
  bool AlwaysCopy = false;
};

// "%artist%", "%title%", "%album%", "%track%", "%year%", "%genre%", "%albumartist%",
// "%composer%" and "%num%" (N with at least two digits) replaced in that order, the tokens
// found without regard to ASCII case; then SanitizeFileName.
std::string ExpandRenamePattern(const std::string &Pattern, const TAudioTag &Tag, int N);
// Each of < > : " / \ | ? * becomes "_"; characters up to U+0020 are trimmed at both ends and
// leading dots are dropped (a name starting with "." is a hidden file).
std::string SanitizeFileName(const std::string &Name);
// False when the pattern names tags and every one of them is blank in Tag: the expansion would
// be the pattern's separators alone. A pattern without tag tokens ("%num%") is true.
bool PatternHasTagValues(const std::string &Pattern, const TAudioTag &Tag);
// False for a name that is not one entry of a folder: empty, ".", "..", or holding "/" or NUL.
bool IsValidEntryName(const std::string &Name);
// The extension of a file name: from its last "." on, dot included; empty without a dot.
std::string FileNameExtension(const std::string &Name);

// Renames OldPath to NewPath within one file system, never replacing an entry at NewPath.
// False with errno set (EEXIST when NewPath exists, EXDEV across file systems).
bool RenameNoReplace(const std::string &OldPath, const std::string &NewPath);
// The same for file systems that refuse RENAME_NOREPLACE: a hard link under the new name, then
// the old name removed; where there are no hard links (and for folders), a rename after
// checking that nothing is at NewPath.
bool RenameNoReplaceByLink(const std::string &OldPath, const std::string &NewPath);
// Moves the file Source to Dest, never replacing an entry at Dest: a rename within a file
// system; across file systems a verified copy, then the source is deleted. False with a
// reason in Error; the source is then untouched and nothing is left at Dest.
bool MoveFileNoReplace(const std::string &Source, const std::string &Dest, std::string &Error,
                       const TMoveOptions &Options = {});
// Copies Source to Dest through a temporary file beside Dest, so that a failed copy leaves an
// existing Dest as it was. Without Replace an entry at Dest is never replaced (EEXIST, also
// when it appears during the copy); with it a file there is replaced in one rename. False with
// a reason in Error.
bool CopyFileInto(const std::string &Source, const std::string &Dest, bool Replace, std::string &Error,
                  const TFileCopyStep &Copy = {});
// True when both paths name one existing file (the same path, or hard links of one file).
bool IsSameFile(const std::string &A, const std::string &B);

class TFileOperations {
public:
  TFileOperations(TEditingModel &Model, IPrompts &Prompts, IFolderTree &Tree);

  // The shared handler of "Rename File..." and "Tag to Name...".
  void btnRenameFileClick(TRenameCaller Caller);
  void RenameSingleFile(const std::string &FileName);
  void RenameFromPattern(const std::vector<std::string> &Files);
  void btnCopyFileToClick();
  void btnMoveFileToClick();
  void btnDeleteFileClick();
  void btnNewFolderClick();
  void btnRenameFolderClick();

  // How files are copied (the copy command, and moves between file systems); tests replace
  // the copy step.
  TMoveOptions MoveOptions;
  // Moves a file to the desktop's trash; false where there is none (the file is then deleted).
  // Empty: QFile::moveToTrash. Tests put a trash of their own here.
  std::function<bool(const std::string &FileName)> MoveToTrash;

private:
  // The answers to a copy onto an existing file, in the order of the question's buttons.
  enum TOverwriteAnswer { oaOverwrite, oaSkip, oaCancel };
  TOverwriteAnswer AskOverwrite(const std::string &Dest);
  bool MoveFileToTrash(const std::string &FileName);
  // The warning for names that would leave their folder.
  void RefuseName(const std::string &Name);
  void RefuseNames(const std::vector<std::string> &Names);

  TEditingModel &FModel;
  IPrompts &FPrompts;
  IFolderTree &FTree;
};
