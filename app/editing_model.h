#pragma once
// TEditingModel: the state behind the main window and its operations: the table of every
// loaded file's record, the rows of the file list, the sixteen edit fields (through
// IEditorView), "<keep>" merging of several files, applying edits, the save loop with its error
// list, the save prompt, a 30-step undo stack and the filter. It starts and stops the folder
// scanner and loads each file it reports. Modal questions go through IPrompts, files through
// ITagService; everything runs on the thread that created the model.
//
// Invariants:
// - The table is keyed by the exact path (byte-wise, case-sensitive) and enumerates in the
//   order records were added (scan order); every row shows the table record of its path, and
//   a path has at most one row.
// - Picture bytes are kept in memory only while they are not in the file: after a load and
//   after a successful save the table holds just the picture's MIME type and size, and the
//   bytes are read from the file when the picture is shown or the file is written.
// - A record's picture changes only when the user loaded or cleared a picture since the edit
//   fields were last filled, by Remove Tags, or by undo.
// - Every tag of a file is removed only by Remove Tags; a record whose sixteen fields are empty
//   clears those fields and keeps everything else in the file.
// - Undo steps follow their files through renames and moves and forget deleted or replaced
//   files, so an undo writes old values only into the file they were taken from. A snapshot
//   refers to the file's picture without holding it until a save is about to replace that
//   picture; its bytes are read just before.
// - A record keeps the separate values of a field that shows several joined (two artists:
//   TAudioTag::SeparateValues), in the table and in undo snapshots alike, so that an undo
//   writes those values back apart, not their joined text as one value; a text typed over
//   such a field is one value.
// - Nothing a stopped scan hands over reaches the table of a later scan.
// - The edit fields show the selected files or nothing: when the list is rebuilt (a scan, a
//   filter change) they are emptied, after an edit typed into them was saved to the files it
//   was typed for or dropped with the user's knowledge. Applying writes only the fields whose
//   text differs from what they were filled with (or that make files agree on one spelling).
// - Once the user sorted by a column, the rows stay in that order: after a rescan (sorted when
//   the walk ends), a filter change, and any change of a row's values or name.
//   RowsInSortOrder() tells the window when the order shown is the sort's.

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/service/audio_tag.h"
#include "app/editor_view.h"
#include "app/prompts.h"
#include "app/quick_actions.h"
#include "app/service/tag_service.h"

class TFileScanner;

// Where the picture of a table record is.
enum class TCoverState : std::uint8_t {
  None,     // the record has no picture
  InFile,   // the record's picture is whatever picture the file holds now; bytes not in memory
  InMemory, // the record's picture is CoverBytes (not yet written to the file)
};

// A record as the table and the undo stack keep it: Tag.CoverData is always empty; the picture
// is described by the other fields.
struct TCachedTag {
  TAudioTag Tag;
  TCoverState CoverState = TCoverState::None;
  std::shared_ptr<const TBytes> CoverBytes;  // InMemory only
  std::uint64_t CoverSize = 0;               // InFile: the size read at load (0 when unknown)
  bool RemoveAllTags = false;                // the next save removes every tag from the file
};

// One undo step: Tags[i] is the state of Files[i] before the change.
struct TUndoItem {
  std::vector<std::string> Files;
  std::vector<TCachedTag> Tags;
};

// The outcome of one run of the Save command.
struct TSaveReport {
  int Saved = 0;
  int Failed = 0;
  std::vector<TErrorItem> Errors;
};

class TEditingModel : public QObject {
  Q_OBJECT
public:
  static constexpr int kMaxUndoSteps = 30;
  // Snapshot records kept over all undo steps; older steps are dropped beyond it (the newest
  // step always stays), so undoing select-all edits on a large library stays bounded.
  static constexpr std::size_t kMaxUndoRecords = 300000;
  // The marker of a field whose value differs between the selected files.
  static constexpr const char *KeepMarker = "<keep>";

  TEditingModel(std::shared_ptr<ITagService> TagService, IEditorView &View, IPrompts &Prompts,
                QObject *Parent = nullptr);
  ~TEditingModel() override;

  // Scanning. StartScan stops a running scan (serving its hand-overs), empties the list and the
  // table and walks Root; an empty Root does nothing.
  void StartScan(const std::string &Root);
  void StopScan();
  bool IsScanning() const;
  // The scanner's callbacks: load one file into the table (and a row when it passes the
  // filter); report the end of the walk.
  void ScannerProgress(const std::string &FileName);
  void ScannerFinished();
  // A command's outcome that a rescan it started would hide: shown when that scan ends (at
  // once when no scan runs).
  void SetStatusAfterScan(const QString &Text);

  // The table.
  int TagCount() const { return static_cast<int>(FIndex.size()); }
  // The record of a path, without picture bytes (CoverMime tells whether it has a picture).
  bool TryGetTag(const std::string &FileName, TAudioTag &Tag) const;
  // The same with the picture's bytes, read from the file when they are not in memory. False
  // when the path is not in the table or its picture could not be read.
  bool TryGetTagWithCover(const std::string &FileName, TAudioTag &Tag);
  const TCachedTag *FindCachedTag(const std::string &FileName) const;
  // Stores the record's texts, play time and flags under Tag.FileName, adding it when new. An
  // existing record keeps its picture (Tag's picture counts only for a new record); use
  // StoreTagWithCover to set the picture as well.
  void StoreTag(const TAudioTag &Tag);
  void StoreTagWithCover(const TAudioTag &Tag);
  // The table's paths in its enumeration order.
  std::vector<std::string> TableFiles() const;

  // The file list.
  void ClearFileList(bool AlsoTable);
  int RowCount() const { return static_cast<int>(FRows.size()); }
  const std::string &RowFileName(int Row) const { return FRows[static_cast<std::size_t>(Row)]; }
  QString CellText(int Row, int Column) const;
  // The row of a path (exact comparison); -1 when none.
  int FindListItem(const std::string &FileName) const;
  // Tells the view that the row shows new values; the row shows the table record of its path.
  void UpdateListItem(int Row, const TAudioTag &Tag);
  std::vector<std::string> GetSelectedFiles() const;
  // Sorting by a column header: the same column again flips the direction.
  void lvFilesColumnClick(int Column);
  int SortColumn() const { return FSortColumn; }
  bool SortAscending() const { return FSortAsc; }
  // True when the user sorted the list and the rows are in that order now (false while a scan
  // is adding rows, until it ends).
  bool RowsInSortOrder() const { return FSorted && FRowsInOrder; }

  // The edit fields.
  void lvFilesSelectItem();
  void lvFilesMouseActivate();
  // Every edit field's change event.
  void EditFieldChange();
  void ShowSingleTag(const TAudioTag &Tag);
  void ShowMultiSelection(const std::vector<std::string> &Files);
  void RefreshSelection();
  void ApplyEditsToSelection();
  void btnLoadCoverClick();
  void btnClearCoverClick();

  // Saving and undo.
  void PushUndo();
  TSaveReport btnSaveClick();
  void ActionUndoExecute();
  const std::deque<TUndoItem> &UndoStack() const { return FUndoStack; }
  void btnRemoveTagClick();
  void ApplyActionsToSelection(const std::vector<TTagAction> &Actions);

  // The filter.
  void edtFilterChange(const QString &Text);
  bool MatchesFilter(const TAudioTag &Tag, const std::string &Name) const;
  void RebuildFileList();

  void SetStatus(const QString &Text);

  // Keeping the model in step with files changed on disk. A rename or move carries the record,
  // its row, the shown file and the undo steps to the new path (anything held for the new
  // path before is forgotten); the record is marked changed so the next save writes it there.
  void RenameFileInModel(const std::string &OldName, const std::string &NewName);
  // The same for every path below a renamed or moved folder.
  void RenameFolderInModel(const std::string &OldFolder, const std::string &NewFolder);
  // A deleted file: its record, row and undo snapshots go; if it was shown, the fields empty.
  void RemoveFileFromModel(const std::string &FileName);
  // The file at FileName was replaced by another one (a copy onto it): its undo snapshots go.
  void ForgetUndoForFile(const std::string &FileName);

  // State for the window and tests.
  bool TagsAreChanged() const { return fTagsAreChanged; }
  const std::string &CurrentFile() const { return FCurrentFile; }
  const std::string &FilterText() const { return FFilterText; }

signals:
  // The current scan's walk ended and ScannerFinished has run.
  void ScanCompleted();

private:
  // A row's sort key for the sort column: seconds for "Duration", else the upper-cased text.
  struct TSortKey {
    std::string Text;
    std::int32_t Seconds = 0;
  };
  TSortKey SortKeyOf(int Row) const;
  // Negative when A comes first in the sort in force.
  int CompareSortKeys(const TSortKey &A, const TSortKey &B) const;
  // False when the row is out of order with a neighbour.
  bool RowInOrder(int Row) const;
  void SortRows(bool Announce);
  // Sorts again when a change broke the order of a sorted list (not while a scan adds rows).
  void RestoreSortOrder();
  // The save prompt before the fields lose their files; with no file selected, the notice
  // that the typed changes are dropped.
  void OfferToSaveEdits();
  void DropEditsOfNoFile();
  // Remembers what the fields show right after they were filled (Differs: the value shown
  // stands for spellings that differ between the files).
  void RememberShownFields(const std::array<bool, kEditFieldCount> &Differs);
  void MoveRecord(const std::string &OldName, const std::string &NewName);
  TCachedTag *FindEntry(const std::string &FileName);
  TCachedTag &AddEntry(const std::string &FileName);
  void EraseEntry(const std::string &FileName);
  void CompactTable();
  void AppendRow(const std::string &FileName);
  void RemoveRow(int Row);
  void InvalidateRowIndex() const { FRowIndexValid = false; }
  // Reads the picture a cached record stands for; false when the file could not be read.
  bool ReadCover(const TCachedTag &Entry, std::string &Mime, TBytes &Data);
  // Loads the picture FileName holds now into every undo snapshot that refers to it, so a save
  // may replace it; false when it could not be read.
  bool KeepFilePictureForUndo(const std::string &FileName,
                              const std::vector<TCachedTag *> &Snapshots);
  bool SaveEntry(TCachedTag &Entry, const std::vector<TCachedTag *> *UndoRefs);
  // After a save that a differing backup from an earlier failed save blocked: asks whether to
  // put that backup (the complete file from before) back; true when it was put back.
  bool OfferBackupRestore(const std::string &FileName);
  void TrimUndoStack();
  void UpdateUndoButton();
  void FillEmptyFields();

  std::shared_ptr<ITagService> FTagService;
  IEditorView &FView;
  IPrompts &FPrompts;

  std::vector<std::unique_ptr<TCachedTag>> FSlots;  // enumeration order; null = removed
  std::unordered_map<std::string, std::size_t> FIndex;
  std::size_t FRemovedSlots = 0;

  std::vector<std::string> FRows;
  mutable std::unordered_map<std::string, int> FRowIndex;
  mutable bool FRowIndexValid = true;
  int FSortColumn = 0;
  bool FSortAsc = true;
  bool FSorted = false;      // the user sorted by a column header
  bool FRowsInOrder = true;  // the rows are in the order of FSortColumn / FSortAsc

  std::deque<TUndoItem> FUndoStack;
  bool fTagsAreChanged = false;
  bool FCoverChanged = false;
  bool FUpdatingControls = false;
  std::string FCurrentFile;
  std::string FFilterText;
  std::array<QString, kEditFieldCount> FShownTexts;  // as read back from the view
  std::array<bool, kEditFieldCount> FShownDiffers{};
  bool FScanActive = false;
  QString FStatusAfterScan;

  std::unique_ptr<TFileScanner> FScanner;
  std::shared_ptr<std::uint64_t> FScanGeneration = std::make_shared<std::uint64_t>(0);
};
