#include "app/file_operations.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "app/editing_model.h"
#include "app/localization.h"
#include "tags/streams/file_io.h"
#include "tags/text/text.h"

namespace {

// Names listed in one refusal message; more are summed up.
constexpr std::size_t kMaxRefusedNamesShown = 10;

QString FromUtf8(const std::string &Text) { return QString::fromStdString(Text); }

std::string StripTrailingSeparators(std::string Folder)
{
  while (Folder.size() > 1 && Folder.back() == '/') Folder.pop_back();
  return Folder;
}

std::string JoinPath(const std::string &Folder, const std::string &Name)
{
  const std::string folder = StripTrailingSeparators(Folder);
  return folder == "/" ? "/" + Name : folder + "/" + Name;
}

std::string WithTrailingSeparator(const std::string &Folder)
{
  return !Folder.empty() && Folder.back() == '/' ? Folder : Folder + "/";
}

// lstat: an entry of any kind, a dangling link included.
bool EntryExists(const std::string &Path)
{
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0;
}

std::string ReplaceAll(std::string Text, const std::string &What, const std::string &With)
{
  if (What.empty()) return Text;
  for (auto pos = Text.find(What); pos != std::string::npos; pos = Text.find(What, pos + With.size()))
    Text.replace(pos, What.size(), With);
  return Text;
}

std::string ReplaceTokenIgnoringCase(const std::string &Text, const std::string &Token, const std::string &Value)
{
  // Tokens are ASCII, so folding ASCII letters keeps every byte where it was.
  const std::string folded = AsciiLowerCase(Text);
  std::string out;
  std::size_t pos = 0;
  for (auto hit = folded.find(Token); hit != std::string::npos; hit = folded.find(Token, pos)) {
    out.append(Text, pos, hit - pos);
    out += Value;
    pos = hit + Token.size();
  }
  out.append(Text, pos, std::string::npos);
  return out;
}

// The tag tokens of a rename pattern, in the order they are replaced.
std::array<std::pair<const char *, const std::string *>, 8> RenamePatternFields(const TAudioTag &Tag)
{
  return {{
    {"%artist%", &Tag.Artist}, {"%title%", &Tag.Title}, {"%album%", &Tag.Album},
    {"%track%", &Tag.Track}, {"%year%", &Tag.Year}, {"%genre%", &Tag.Genre},
    {"%albumartist%", &Tag.AlbumArtist}, {"%composer%", &Tag.Composer},
  }};
}

// A NUL would end the text in a message box; it is shown as the symbol for NUL instead.
QString DisplayName(const std::string &Name)
{
  return FromUtf8(Name).replace(QChar(u'\0'), QChar(u'\u2400'));
}

// Makes a rename or a new file in Folder durable before a source elsewhere is deleted; false
// with errno set when syncing the folder failed. A folder that cannot be opened for reading, or
// a file system that cannot sync a folder (EINVAL, EROFS), leaves nothing to wait for.
bool SyncFolder(const std::string &Folder)
{
  const int fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;
  int error = 0;
  if (TWriteFaults::ShouldFail())
    error = EIO;
  else if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
    error = errno;
  ::close(fd);
  errno = error;
  return error == 0;
}

// An empty file made exclusively in the folder of Target, removed again unless Keep() was
// called; Path() is empty when none could be made (errno then tells why).
class TScratchFile {
public:
  explicit TScratchFile(const std::string &Target)
  {
    // A short fixed name: a long target name must not push the scratch name past NAME_MAX.
    std::string pattern = JoinPath(PathFolder(Target), ".corvella-copy-XXXXXX");
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) return;
    ::close(fd);
    FPath = buf.data();
  }
  ~TScratchFile()
  {
    if (!FPath.empty() && !FKept) ::unlink(FPath.c_str());
  }
  TScratchFile(const TScratchFile &) = delete;
  TScratchFile &operator=(const TScratchFile &) = delete;
  const std::string &Path() const { return FPath; }
  void Keep() { FKept = true; }

private:
  std::string FPath;
  bool FKept = false;
};

// Copies Source into the scratch file beside Dest; the reason of a failure names Dest, not the
// scratch file the user never sees.
bool CopyToScratch(const std::string &Source, const std::string &Dest, const TScratchFile &Scratch,
                   const TFileCopyStep &Copy, std::string &Error)
{
  std::string reason;
  const bool ok = Copy ? Copy(Source, Scratch.Path(), reason) : CopyFileFast(Source, Scratch.Path(), reason);
  if (!ok) Error = ReplaceAll(reason, Scratch.Path(), Dest);
  return ok;
}

} // namespace

std::string SanitizeFileName(const std::string &Name)
{
  std::string out = Name;
  for (char &c : out) {
    switch (c) {
    case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '?': case '*': c = '_'; break;
    default: break;
    }
  }
  // A name starting with "." is a hidden file (and ".." once was a way out of the folder).
  std::string_view rest = out;
  while (!rest.empty() && (rest.front() == '.' || static_cast<unsigned char>(rest.front()) <= 0x20))
    rest.remove_prefix(1);
  return TrimBlanks(rest);
}

bool PatternHasTagValues(const std::string &Pattern, const TAudioTag &Tag)
{
  const std::string pattern = AsciiLowerCase(Pattern);
  bool usesTags = false;
  for (const auto &[token, value] : RenamePatternFields(Tag)) {
    if (pattern.find(token) == std::string::npos) continue;
    usesTags = true;
    if (!TrimBlanks(*value).empty()) return true;
  }
  return !usesTags;
}

std::string ExpandRenamePattern(const std::string &Pattern, const TAudioTag &Tag, int N)
{
  std::string text = Pattern;
  for (const auto &[token, value] : RenamePatternFields(Tag)) text = ReplaceTokenIgnoringCase(text, token, *value);
  text = ReplaceTokenIgnoringCase(text, "%num%", ZeroPad(static_cast<std::uint64_t>(N < 0 ? 0 : N), 2));
  return SanitizeFileName(text);
}

bool IsValidEntryName(const std::string &Name)
{
  if (Name.empty() || Name == "." || Name == "..") return false;
  return Name.find('/') == std::string::npos && Name.find('\0') == std::string::npos;
}

std::string FileNameExtension(const std::string &Name)
{
  const std::string name = PathFileName(Name);
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool RenameNoReplaceByLink(const std::string &OldPath, const std::string &NewPath)
{
  if (::link(OldPath.c_str(), NewPath.c_str()) == 0) {
    if (::unlink(OldPath.c_str()) == 0) return true;
    const int saved = errno;
    ::unlink(NewPath.c_str());
    errno = saved;
    return false;
  }
  // Folders, and file systems without hard links, leave only a rename checked beforehand; the
  // moment between the check and the rename is the one gap left there.
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) return false;
  if (EntryExists(NewPath)) {
    errno = EEXIST;
    return false;
  }
  if (errno != ENOENT) return false;
  return ::rename(OldPath.c_str(), NewPath.c_str()) == 0;
}

bool RenameNoReplace(const std::string &OldPath, const std::string &NewPath)
{
  if (::renameat2(AT_FDCWD, OldPath.c_str(), AT_FDCWD, NewPath.c_str(), RENAME_NOREPLACE) == 0) return true;
  // EINVAL and the like: this file system does not know the flag.
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  return RenameNoReplaceByLink(OldPath, NewPath);
}

bool IsSameFile(const std::string &A, const std::string &B)
{
  struct stat a {}, b {};
  if (::stat(A.c_str(), &a) != 0 || ::stat(B.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool MoveFileNoReplace(const std::string &Source, const std::string &Dest, std::string &Error,
                       const TMoveOptions &Options)
{
  if (!Options.AlwaysCopy) {
    if (RenameNoReplace(Source, Dest)) return true;
    if (errno != EXDEV) {
      Error = ErrnoText(errno);
      return false;
    }
  }
  if (EntryExists(Dest)) {
    Error = ErrnoText(EEXIST);
    return false;
  }
  struct stat st {};
  if (::stat(Source.c_str(), &st) != 0) {
    Error = ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    Error = Translate("Not a regular file.").toStdString();
    return false;
  }
  TScratchFile scratch(Dest);
  if (scratch.Path().empty()) {
    Error = ErrnoText(errno);
    return false;
  }
  if (!CopyToScratch(Source, Dest, scratch, Options.Copy, Error)) return false;
  if (!FilesIdentical(Source, scratch.Path())) {
    Error = Translate("The copy differs from the original; the original was kept.").toStdString();
    return false;
  }
  struct timespec modTime {};
  if (GetFileModTime(Source, modTime)) SetFileModTime(scratch.Path(), modTime);
  if (!RenameNoReplace(scratch.Path(), Dest)) {
    Error = ErrnoText(errno);
    return false;
  }
  scratch.Keep();
  // Until the copy's name is on the disk, the source is the only copy that would survive a
  // crash; it is deleted only then. Otherwise the copy goes, or there would be two files.
  if (!SyncFolder(PathFolder(Dest)) || ::unlink(Source.c_str()) != 0) {
    Error = ErrnoText(errno);
    ::unlink(Dest.c_str());
    return false;
  }
  return true;
}

bool CopyFileInto(const std::string &Source, const std::string &Dest, bool Replace, std::string &Error,
                  const TFileCopyStep &Copy)
{
  if (IsSameFile(Source, Dest)) {
    Error = ErrnoText(EEXIST);
    return false;
  }
  if (!Replace && EntryExists(Dest)) {
    Error = ErrnoText(EEXIST);
    return false;
  }
  // A write-protected file is not replaced behind its protection.
  if (Replace && FileExists(Dest) && IsReadOnlyFile(Dest)) {
    Error = ErrnoText(EACCES);
    return false;
  }
  TScratchFile scratch(Dest);
  if (scratch.Path().empty()) {
    Error = ErrnoText(errno);
    return false;
  }
  if (!CopyToScratch(Source, Dest, scratch, Copy, Error)) return false;
  // Without leave to replace, a file that appeared at Dest meanwhile stays.
  const bool placed = Replace ? ::rename(scratch.Path().c_str(), Dest.c_str()) == 0
                              : RenameNoReplace(scratch.Path(), Dest);
  if (!placed) {
    Error = ErrnoText(errno);
    return false;
  }
  scratch.Keep();
  return true;
}

TFileOperations::TFileOperations(TEditingModel &Model, IPrompts &Prompts, IFolderTree &Tree)
  : FModel(Model), FPrompts(Prompts), FTree(Tree)
{
}

void TFileOperations::RefuseName(const std::string &Name) { RefuseNames({Name}); }

void TFileOperations::RefuseNames(const std::vector<std::string> &Names)
{
  QString text = Translate("A name cannot be \".\" or \"..\" and cannot contain \"/\" or a NUL character:");
  for (std::size_t i = 0; i < Names.size() && i < kMaxRefusedNamesShown; ++i)
    text += QStringLiteral("\r\n") + DisplayName(Names[i]);
  if (Names.size() > kMaxRefusedNamesShown) text += QStringLiteral("\r\n...");
  FPrompts.Warning(text);
}

void TFileOperations::btnRenameFileClick(TRenameCaller Caller)
{
  const std::vector<std::string> files = FModel.GetSelectedFiles();
  if (files.empty()) {
    FPrompts.Information(Translate("Please select one or more files to rename."));
    return;
  }
  if (Caller == rcRenameFile) {
    if (files.size() > 1) {
      FPrompts.Information(Translate("Please select one file to rename."));
      return;
    }
    RenameSingleFile(files[0]);
    return;
  }
  RenameFromPattern(files);
}

void TFileOperations::RenameSingleFile(const std::string &FileName)
{
  const std::string oldName = PathFileName(FileName);
  QString answer = FromUtf8(oldName);
  if (!FPrompts.InputBox(Translate("Rename file"), Translate("Enter new file name:"), answer)) return;
  std::string name = TrimBlanks(answer.toStdString());
  if (name.empty()) return;
  if (!IsValidEntryName(name)) {
    RefuseName(name);
    return;
  }
  if (FileNameExtension(name).empty()) name += FileNameExtension(oldName);
  const std::string newPath = JoinPath(PathFolder(FileName), name);
  // Exact: on this system a.mp3 and A.mp3 are two names, so a change of case is a rename.
  if (newPath == FileName) return;
  if (!RenameNoReplace(FileName, newPath)) {
    FPrompts.Error(Translate("Failed to rename file."));
    return;
  }
  FModel.RenameFileInModel(FileName, newPath);
  FModel.SetStatus(Translate("Renamed: ") + FromUtf8(newPath));
}

void TFileOperations::RenameFromPattern(const std::vector<std::string> &Files)
{
  QString answer = QStringLiteral("%artist% - %title%");
  if (!FPrompts.InputBox(Translate("Batch rename"),
                         Translate("Enter pattern (use %artist%, %title%, %album%, %track%, %year%, %num%):"), answer))
    return;
  const std::string pattern = TrimBlanks(answer.toStdString());
  if (pattern.empty()) return;

  int renamed = 0, nameless = 0;
  std::vector<std::string> refused;
  int n = 0;
  for (const std::string &file : Files) {
    ++n;  // every selected file has its number, also one that is skipped
    TAudioTag tag;
    if (!FModel.TryGetTag(file, tag)) continue;
    const std::string base = ExpandRenamePattern(pattern, tag, n);
    // Tags that give no name would leave only the pattern's separators ("-.mp3").
    if (base.empty() || !PatternHasTagValues(pattern, tag)) {
      ++nameless;
      continue;
    }
    const std::string name = base + FileNameExtension(file);
    if (!IsValidEntryName(name)) {
      refused.push_back(name);
      continue;
    }
    const std::string newPath = JoinPath(PathFolder(file), name);
    if (newPath == file || EntryExists(newPath)) continue;
    if (!RenameNoReplace(file, newPath)) continue;
    FModel.RenameFileInModel(file, newPath);
    ++renamed;
  }
  QString status = TranslateFormat("Renamed %d file(s).", renamed);
  if (nameless > 0)
    status += QLatin1Char(' ') + TranslateFormat("Skipped %d file(s): their tags give no name.", nameless);
  FModel.SetStatus(status);
  if (!refused.empty()) RefuseNames(refused);
}

void TFileOperations::btnCopyFileToClick()
{
  const std::vector<std::string> files = FModel.GetSelectedFiles();
  if (files.empty()) {
    FPrompts.Information(Translate("Please select one or more files to copy."));
    return;
  }
  QString answer = FromUtf8(FTree.SelectedFolder());
  if (!FPrompts.PickFolder(Translate("Copy to folder"), answer)) return;
  const std::string folder = StripTrailingSeparators(answer.toStdString());
  if (folder.empty()) return;

  int copied = 0, alreadyThere = 0, skipped = 0;
  bool cancelled = false;
  for (const std::string &file : files) {
    const std::string dest = JoinPath(folder, PathFileName(file));
    if (IsSameFile(file, dest)) {
      ++alreadyThere;
      continue;
    }
    std::string reason;
    bool copiedThis = CopyFileInto(file, dest, false, reason, MoveOptions.Copy);
    // Something of that name is there (found before the copy, or it appeared meanwhile).
    if (!copiedThis && EntryExists(dest) && !IsSameFile(file, dest)) {
      const TOverwriteAnswer choice = AskOverwrite(dest);
      if (choice == oaCancel) {
        cancelled = true;
        break;
      }
      if (choice == oaSkip) {
        ++skipped;
        continue;
      }
      reason.clear();
      copiedThis = CopyFileInto(file, dest, true, reason, MoveOptions.Copy);
    }
    if (!copiedThis) {
      FPrompts.Error(Translate("Failed to copy ") + QStringLiteral("\"") + FromUtf8(file) + QStringLiteral("\": ") + FromUtf8(reason));
      continue;
    }
    ++copied;
    // Whatever was known of the replaced file belongs to it, not to the copy now there.
    FModel.ForgetUndoForFile(dest);
    if (FModel.FindCachedTag(dest)) {
      FModel.ScannerProgress(dest);
      if (FModel.CurrentFile() == dest) FModel.RefreshSelection();
    }
  }
  QString status = TranslateFormat("Copied %d file(s) to %s", copied, WithTrailingSeparator(folder));
  if (alreadyThere > 0)
    status += QLatin1Char(' ') + TranslateFormat("%d file(s) already in that folder: a file is not copied onto itself.", alreadyThere);
  if (skipped > 0) status += QLatin1Char(' ') + TranslateFormat("Skipped %d file(s) that exist there already.", skipped);
  if (cancelled) status += QLatin1Char(' ') + Translate("Copying was cancelled.");
  FModel.SetStatus(status);
}

TFileOperations::TOverwriteAnswer TFileOperations::AskOverwrite(const std::string &Dest)
{
  const QStringList buttons = {Translate("Overwrite"), Translate("Skip"), Translate("Cancel")};
  const QString text = TranslateFormat("A file named \"%s\" already exists in %s. Replace it?",
                                       DisplayName(PathFileName(Dest)), DisplayName(PathFolder(Dest)));
  switch (FPrompts.Choose(text, buttons, oaSkip, oaCancel)) {
  case oaOverwrite: return oaOverwrite;
  case oaSkip: return oaSkip;
  default: return oaCancel;
  }
}

void TFileOperations::btnMoveFileToClick()
{
  const std::vector<std::string> files = FModel.GetSelectedFiles();
  if (files.empty()) {
    FPrompts.Information(Translate("Please select one or more files to move."));
    return;
  }
  QString answer = FromUtf8(FTree.SelectedFolder());
  if (!FPrompts.PickFolder(Translate("Move to folder"), answer)) return;
  const std::string folder = StripTrailingSeparators(answer.toStdString());
  if (folder.empty()) return;

  int moved = 0, alreadyThere = 0;
  for (const std::string &file : files) {
    const std::string dest = JoinPath(folder, PathFileName(file));
    if (IsSameFile(file, dest)) {
      ++alreadyThere;
      continue;
    }
    std::string reason;
    if (!MoveFileNoReplace(file, dest, reason, MoveOptions)) {
      FPrompts.Error(Translate("Failed to move \"") + FromUtf8(file) + QStringLiteral("\": ") + FromUtf8(reason));
      continue;
    }
    FModel.RenameFileInModel(file, dest);
    ++moved;
  }
  QString status = TranslateFormat("Moved %d file(s) to %s", moved, folder);
  if (alreadyThere > 0)
    status += QLatin1Char(' ') + TranslateFormat("%d file(s) already in that folder stayed where they are.", alreadyThere);
  FModel.StartScan(FTree.SelectedFolder());
  // The rescan's own status lines would hide the outcome.
  FModel.SetStatusAfterScan(status);
}

void TFileOperations::btnDeleteFileClick()
{
  const std::vector<std::string> files = FModel.GetSelectedFiles();
  if (files.empty()) {
    FPrompts.Information(Translate("Please select one or more files to delete."));
    return;
  }
  const int count = static_cast<int>(files.size());
  // Enter must not delete files for good: the default answer is No.
  if (!FPrompts.ConfirmDefaultNo(TranslateFormat("Delete %d selected file(s)? This cannot be undone.", count))) return;

  int deleted = 0, trashed = 0;
  for (const std::string &file : files) {
    struct stat st {};
    int error = 0;
    if (::lstat(file.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode))
        error = EISDIR;  // a folder took the file's place: it is not the file that was listed
      else if (MoveFileToTrash(file))
        ++trashed;
      else if (::unlink(file.c_str()) != 0)
        error = errno;
      else
        ++deleted;
    } else if (errno != ENOENT && errno != ENOTDIR) {
      error = errno;  // cannot tell whether it is there: it stays listed
    } else {
      ++deleted;  // gone already
    }
    if (error != 0) {
      FPrompts.Error(Translate("Failed to delete \"") + FromUtf8(file) + QStringLiteral("\": ") + FromUtf8(ErrnoText(error)));
      continue;
    }
    FModel.RemoveFileFromModel(file);
  }
  if (trashed == 0) {
    FModel.SetStatus(TranslateFormat("Deleted %d file(s).", deleted));
    return;
  }
  QString status = TranslateFormat("Moved %d file(s) to the trash.", trashed);
  if (deleted > 0) status += QLatin1Char(' ') + TranslateFormat("Deleted %d file(s).", deleted);
  FModel.SetStatus(status);
}

bool TFileOperations::MoveFileToTrash(const std::string &FileName)
{
  if (MoveToTrash) return MoveToTrash(FileName);
  return QFile::moveToTrash(QString::fromStdString(FileName));
}

void TFileOperations::btnNewFolderClick()
{
  const std::string parent = StripTrailingSeparators(FTree.SelectedFolder());
  if (parent.empty()) return;
  QString answer = Translate("New Folder");
  if (!FPrompts.InputBox(Translate("New folder"), Translate("Folder name:"), answer)) return;
  const std::string name = TrimBlanks(answer.toStdString());
  if (name.empty()) return;
  if (!IsValidEntryName(name)) {
    RefuseName(name);
    return;
  }
  const std::string path = JoinPath(parent, name);
  if (DirectoryExists(path)) {
    FPrompts.Information(Translate("Folder already exists."));
    return;
  }
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (!error && !DirectoryExists(path)) error = std::make_error_code(std::errc::file_exists);
  if (error) {
    FPrompts.Error(Translate("Failed to create folder:") + QStringLiteral("\r\n") + FromUtf8(error.message()));
    return;
  }
  FModel.SetStatus(Translate("Created folder: ") + FromUtf8(path));
}

void TFileOperations::btnRenameFolderClick()
{
  const std::string folder = StripTrailingSeparators(FTree.SelectedFolder());
  if (folder.empty() || folder == "/") return;
  const std::string parent = PathFolder(folder);
  if (parent.empty()) return;
  QString answer = FromUtf8(PathFileName(folder));
  if (!FPrompts.InputBox(Translate("Rename folder"), Translate("Folder name:"), answer)) return;
  const std::string name = TrimBlanks(answer.toStdString());
  if (name.empty()) return;
  if (!IsValidEntryName(name)) {
    RefuseName(name);
    return;
  }
  const std::string newPath = JoinPath(parent, name);
  if (newPath == folder) return;
  if (DirectoryExists(newPath)) {
    FPrompts.Information(Translate("Folder already exists."));
    return;
  }
  if (!RenameNoReplace(folder, newPath)) {
    const int error = errno;
    FPrompts.Error(Translate("Failed to rename folder:") + QStringLiteral("\r\n") + FromUtf8(ErrnoText(error)));
    return;
  }
  FModel.RenameFolderInModel(folder, newPath);
  FTree.RefreshFolder(parent);
  FTree.SelectFolder(newPath);
  FModel.StartScan(newPath);
  FModel.SetStatusAfterScan(Translate("Renamed folder: ") + FromUtf8(newPath));
}
