#include "app/editing_model.h"

#include <QSet>

#include <algorithm>
#include <array>
#include <numeric>
#include <utility>

#include "app/file_scanner.h"
#include "app/localization.h"
#include "tags/streams/file_io.h"
#include "tags/text/text.h"

namespace {

// The fourteen drop-down fields in the order their suggestion lists are filled.
constexpr TEditField kDropDownFields[] = {
  efTitle, efArtist, efAlbum, efYear, efTrack, efGenre, efDisc, efBPM,
  efAlbumArtist, efComposer, efOrigArtist, efCopyright, efURL, efEncodedBy,
};

std::string &FieldOf(TAudioTag &Tag, TEditField Field)
{
  return Tag.*AudioTagTextFields()[static_cast<std::size_t>(Field)].Member;
}

const std::string &FieldOf(const TAudioTag &Tag, TEditField Field)
{
  return Tag.*AudioTagTextFields()[static_cast<std::size_t>(Field)].Member;
}

QString FromUtf8(const std::string &Text) { return QString::fromStdString(Text); }

QString DurationText(std::int32_t Seconds)
{
  if (Seconds <= 0) return QString();
  return QStringLiteral("%1:%2").arg(Seconds / 60).arg(Seconds % 60, 2, 10, QLatin1Char('0'));
}

// Drops a record's picture bytes; swapping releases the memory, which clear() would keep.
void ReleaseCoverData(TAudioTag &Tag) { TBytes().swap(Tag.CoverData); }

// A table entry for a record fresh from the tag service: the picture stays in the file.
TCachedTag EntryFromLoadedTag(TAudioTag Tag, bool Loaded, std::uint64_t CoverSize)
{
  TCachedTag entry;
  entry.CoverSize = CoverSize;
  // A file whose tags could not be read may still hold a picture; it is left to the file.
  if (CoverSize > 0 || !Loaded) entry.CoverState = TCoverState::InFile;
  if (entry.CoverState == TCoverState::None) Tag.CoverMime.clear();
  ReleaseCoverData(Tag);
  entry.Tag = std::move(Tag);
  return entry;
}

void SetCoverFrom(TCachedTag &Entry, const std::string &Mime, const TBytes &Data)
{
  if (Data.empty()) {
    Entry.CoverState = TCoverState::None;
    Entry.CoverBytes.reset();
    Entry.Tag.CoverMime.clear();
    Entry.CoverSize = 0;
    return;
  }
  Entry.CoverState = TCoverState::InMemory;
  Entry.CoverBytes = std::make_shared<const TBytes>(Data);
  Entry.Tag.CoverMime = Mime;
  Entry.CoverSize = Data.size();
}

bool HasPrefix(const std::string &Path, const std::string &Prefix)
{
  return Path.size() > Prefix.size() && Path.compare(0, Prefix.size(), Prefix) == 0;
}

std::string WithSlash(std::string Folder)
{
  if (Folder.empty() || Folder.back() != '/') Folder += '/';
  return Folder;
}

} // namespace

TEditingModel::TEditingModel(std::shared_ptr<ITagService> TagService, IEditorView &View, IPrompts &Prompts,
                             QObject *Parent)
  : QObject(Parent), FTagService(std::move(TagService)), FView(View), FPrompts(Prompts)
{
  FView.SetUndoEnabled(false);
}

TEditingModel::~TEditingModel() { StopScan(); }

void TEditingModel::StartScan(const std::string &Root)
{
  if (Root.empty()) return;
  // The fields are about to lose the files they show: an edit typed there goes to them now or
  // is dropped knowingly.
  OfferToSaveEdits();
  StopScan();
  ClearFileList(true);
  FillEmptyFields();
  FStatusAfterScan.clear();
  FScanActive = true;
  const std::uint64_t generation = ++*FScanGeneration;
  // The callbacks hold the generation counter weakly: a scanner that outlives its scan (or the
  // model) can still finish its hand-overs, which then reach nothing.
  const std::weak_ptr<std::uint64_t> current = FScanGeneration;
  FScanner = std::make_unique<TFileScanner>(
    Root,
    [this, current, generation](const std::string &FileName) {
      const auto now = current.lock();
      if (now && *now == generation) ScannerProgress(FileName);
    },
    [this, current, generation] {
      const auto now = current.lock();
      if (!now || *now != generation) return;
      ScannerFinished();
      emit ScanCompleted();
    });
  FScanner->Start();
}

void TEditingModel::StopScan()
{
  FScanActive = false;
  if (!FScanner) return;
  // What the stopped walk still hands over belongs to no list any more.
  ++*FScanGeneration;
  FScanner->Terminate();
  if (FScanner->WaitFor()) {
    FScanner.reset();
    return;
  }
  // Asked from inside the scanner's own callback: it ends once that callback returns.
  TFileScanner *old = FScanner.release();
  old->deleteLater();
}

bool TEditingModel::IsScanning() const { return FScanner && !FScanner->isFinished(); }

void TEditingModel::ScannerProgress(const std::string &FileName)
{
  const std::string name = PathFileName(FileName);
  TAudioTag tag;
  std::uint64_t coverSize = 0;
  // The picture's bytes stay in the file until the file is shown.
  const bool loaded = FTagService->LoadTagInfo(FileName, tag, coverSize);
  if (!loaded) {
    tag.Clear();
    tag.FileName = FileName;
    tag.FileType = aftUnknown;
  }
  TCachedTag *existing = FindEntry(FileName);
  TCachedTag &entry = existing ? *existing : AddEntry(FileName);
  entry = EntryFromLoadedTag(std::move(tag), loaded, loaded ? coverSize : 0);
  entry.Tag.FileName = FileName;

  if (!MatchesFilter(entry.Tag, name)) {
    SetStatus(Translate("Scanned: ") + FromUtf8(FileName));
    return;
  }
  const int row = FindListItem(FileName);
  if (row >= 0)
    UpdateListItem(row, entry.Tag);
  else
    AppendRow(FileName);
  RestoreSortOrder();
  SetStatus(Translate("Loaded: ") + FromUtf8(FileName));
}

void TEditingModel::ScannerFinished()
{
  FScanActive = false;
  // Rows arrive in scan order; a sort the user chose is put back once, at the end.
  RestoreSortOrder();
  SetStatus(TranslateFormat("Loaded %d files.", RowCount()));
  if (!FStatusAfterScan.isEmpty()) SetStatus(std::exchange(FStatusAfterScan, QString()));
}

void TEditingModel::SetStatusAfterScan(const QString &Text)
{
  if (FScanActive)
    FStatusAfterScan = Text;
  else
    SetStatus(Text);
}

TCachedTag *TEditingModel::FindEntry(const std::string &FileName)
{
  const auto it = FIndex.find(FileName);
  return it == FIndex.end() ? nullptr : FSlots[it->second].get();
}

const TCachedTag *TEditingModel::FindCachedTag(const std::string &FileName) const
{
  const auto it = FIndex.find(FileName);
  return it == FIndex.end() ? nullptr : FSlots[it->second].get();
}

TCachedTag &TEditingModel::AddEntry(const std::string &FileName)
{
  FSlots.push_back(std::make_unique<TCachedTag>());
  FIndex.emplace(FileName, FSlots.size() - 1);
  TCachedTag &entry = *FSlots.back();
  entry.Tag.FileName = FileName;
  return entry;
}

void TEditingModel::EraseEntry(const std::string &FileName)
{
  const auto it = FIndex.find(FileName);
  if (it == FIndex.end()) return;
  FSlots[it->second].reset();
  FIndex.erase(it);
  ++FRemovedSlots;
  if (FRemovedSlots > 1024 && FRemovedSlots > FSlots.size() / 2) CompactTable();
}

void TEditingModel::CompactTable()
{
  std::vector<std::unique_ptr<TCachedTag>> kept;
  kept.reserve(FIndex.size());
  for (auto &slot : FSlots)
    if (slot) kept.push_back(std::move(slot));
  FSlots = std::move(kept);
  FIndex.clear();
  for (std::size_t i = 0; i < FSlots.size(); ++i) FIndex.emplace(FSlots[i]->Tag.FileName, i);
  FRemovedSlots = 0;
}

bool TEditingModel::TryGetTag(const std::string &FileName, TAudioTag &Tag) const
{
  const TCachedTag *entry = FindCachedTag(FileName);
  if (!entry) return false;
  Tag = entry->Tag;
  return true;
}

bool TEditingModel::TryGetTagWithCover(const std::string &FileName, TAudioTag &Tag)
{
  const TCachedTag *entry = FindEntry(FileName);
  if (!entry) return false;
  Tag = entry->Tag;
  return ReadCover(*entry, Tag.CoverMime, Tag.CoverData);
}

void TEditingModel::StoreTag(const TAudioTag &Tag)
{
  TCachedTag *existing = FindEntry(Tag.FileName);
  if (!existing) {
    StoreTagWithCover(Tag);
    return;
  }
  const std::string mime = existing->Tag.CoverMime;
  existing->Tag = Tag;
  existing->Tag.CoverMime = mime;
  ReleaseCoverData(existing->Tag);
  existing->RemoveAllTags = false;
}

void TEditingModel::StoreTagWithCover(const TAudioTag &Tag)
{
  TCachedTag *existing = FindEntry(Tag.FileName);
  TCachedTag &entry = existing ? *existing : AddEntry(Tag.FileName);
  entry.Tag = Tag;
  ReleaseCoverData(entry.Tag);
  entry.RemoveAllTags = false;
  SetCoverFrom(entry, Tag.CoverMime, Tag.CoverData);
}

std::vector<std::string> TEditingModel::TableFiles() const
{
  std::vector<std::string> files;
  files.reserve(FIndex.size());
  for (const auto &slot : FSlots)
    if (slot) files.push_back(slot->Tag.FileName);
  return files;
}

bool TEditingModel::ReadCover(const TCachedTag &Entry, std::string &Mime, TBytes &Data)
{
  Data.clear();
  Mime.clear();
  switch (Entry.CoverState) {
  case TCoverState::None: return true;
  case TCoverState::InMemory:
    Mime = Entry.Tag.CoverMime;
    if (Entry.CoverBytes) Data = *Entry.CoverBytes;
    return true;
  case TCoverState::InFile: break;
  }
  TAudioTag fromFile;
  if (!FTagService->LoadTag(Entry.Tag.FileName, fromFile)) return false;
  Mime = std::move(fromFile.CoverMime);
  Data = std::move(fromFile.CoverData);
  return true;
}

void TEditingModel::ClearFileList(bool AlsoTable)
{
  FRows.clear();
  FRows.shrink_to_fit();
  FRowIndex.clear();
  FRowIndexValid = true;
  if (AlsoTable) {
    FSlots.clear();
    FIndex.clear();
    FRemovedSlots = 0;
  }
  FCurrentFile.clear();
  FRowsInOrder = true;
  FView.FileListReset();
}

void TEditingModel::AppendRow(const std::string &FileName)
{
  FRows.push_back(FileName);
  if (FRowIndexValid) FRowIndex.emplace(FileName, static_cast<int>(FRows.size() - 1));
  if (FSorted && FRows.size() > 1 && !RowInOrder(RowCount() - 1)) FRowsInOrder = false;
  FView.FileListRowsAppended(static_cast<int>(FRows.size() - 1), 1);
}

void TEditingModel::RemoveRow(int Row)
{
  FRows.erase(FRows.begin() + Row);
  InvalidateRowIndex();
  FView.FileListRowRemoved(Row);
}

int TEditingModel::FindListItem(const std::string &FileName) const
{
  if (!FRowIndexValid) {
    FRowIndex.clear();
    FRowIndex.reserve(FRows.size());
    for (std::size_t i = 0; i < FRows.size(); ++i) FRowIndex.emplace(FRows[i], static_cast<int>(i));
    FRowIndexValid = true;
  }
  const auto it = FRowIndex.find(FileName);
  return it == FRowIndex.end() ? -1 : it->second;
}

void TEditingModel::UpdateListItem(int Row, const TAudioTag &)
{
  if (Row < 0 || Row >= RowCount()) return;
  if (FSorted && FRowsInOrder && !RowInOrder(Row)) FRowsInOrder = false;
  FView.FileListRowChanged(Row);
}

QString TEditingModel::CellText(int Row, int Column) const
{
  if (Row < 0 || Row >= RowCount()) return QString();
  const std::string &path = FRows[static_cast<std::size_t>(Row)];
  if (Column == flcFile) return FromUtf8(PathFileName(path));
  if (Column == flcDirectory) return FromUtf8(PathFolder(path));
  const TCachedTag *entry = FindCachedTag(path);
  if (!entry) return QString();
  const TAudioTag &t = entry->Tag;
  switch (Column) {
  case flcTitle: return FromUtf8(t.Title);
  case flcArtist: return FromUtf8(t.Artist);
  case flcAlbumArtist: return FromUtf8(t.AlbumArtist);
  case flcAlbum: return FromUtf8(t.Album);
  case flcDuration: return DurationText(t.DurationSec);
  case flcYear: return FromUtf8(t.Year);
  case flcTrack: return FromUtf8(t.Track);
  default: return QString();
  }
}

std::vector<std::string> TEditingModel::GetSelectedFiles() const
{
  std::vector<int> rows = FView.SelectedRows();
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> files;
  files.reserve(rows.size());
  for (int row : rows)
    if (row >= 0 && row < RowCount()) files.push_back(FRows[static_cast<std::size_t>(row)]);
  return files;
}

void TEditingModel::lvFilesColumnClick(int Column)
{
  if (Column < 0 || Column >= kFileListColumnCount) return;
  if (Column == FSortColumn) {
    FSortAsc = !FSortAsc;
  } else {
    FSortColumn = Column;
    FSortAsc = true;
  }
  FSorted = true;
  SortRows(true);
}

TEditingModel::TSortKey TEditingModel::SortKeyOf(int Row) const
{
  TSortKey key;
  if (FSortColumn == flcDuration) {
    const TCachedTag *entry = FindCachedTag(FRows[static_cast<std::size_t>(Row)]);
    key.Seconds = entry ? std::max(entry->Tag.DurationSec, 0) : 0;
  } else {
    key.Text = AsciiUpperCase(CellText(Row, FSortColumn).toStdString());
  }
  return key;
}

int TEditingModel::CompareSortKeys(const TSortKey &A, const TSortKey &B) const
{
  int c;
  if (FSortColumn == flcDuration)
    c = A.Seconds < B.Seconds ? -1 : (A.Seconds > B.Seconds ? 1 : 0);
  else
    c = A.Text.compare(B.Text);
  return FSortAsc ? c : -c;
}

bool TEditingModel::RowInOrder(int Row) const
{
  const TSortKey key = SortKeyOf(Row);
  if (Row > 0 && CompareSortKeys(SortKeyOf(Row - 1), key) > 0) return false;
  if (Row + 1 < RowCount() && CompareSortKeys(key, SortKeyOf(Row + 1)) > 0) return false;
  return true;
}

void TEditingModel::SortRows(bool Announce)
{
  // Keys are computed once, so a sort of a large list costs one pass of lookups.
  const std::size_t n = FRows.size();
  std::vector<TSortKey> keys(n);
  for (std::size_t i = 0; i < n; ++i) keys[i] = SortKeyOf(static_cast<int>(i));
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return CompareSortKeys(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)]) < 0;
  });
  std::vector<std::string> rows;
  rows.reserve(n);
  for (int old : order) rows.push_back(std::move(FRows[static_cast<std::size_t>(old)]));
  FRows = std::move(rows);
  InvalidateRowIndex();
  FRowsInOrder = true;
  if (Announce) FView.FileListRowsReordered(order);
}

void TEditingModel::RestoreSortOrder()
{
  if (FSorted && !FRowsInOrder && !FScanActive) SortRows(true);
}

void TEditingModel::lvFilesSelectItem()
{
  fTagsAreChanged = false;
  FCoverChanged = false;
  const std::vector<std::string> files = GetSelectedFiles();
  if (files.empty()) {
    FCurrentFile.clear();
    return;
  }
  if (files.size() == 1) {
    if (const TCachedTag *entry = FindEntry(files[0])) ShowSingleTag(entry->Tag);
    return;
  }
  ShowMultiSelection(files);
}

void TEditingModel::lvFilesMouseActivate() { OfferToSaveEdits(); }

void TEditingModel::OfferToSaveEdits()
{
  if (!fTagsAreChanged) return;
  if (GetSelectedFiles().empty()) {
    DropEditsOfNoFile();
    return;
  }
  if (FPrompts.Confirm(Translate("Do you want to save the tag changes?"))) {
    ApplyEditsToSelection();
    btnSaveClick();
    return;
  }
  fTagsAreChanged = false;
  FCoverChanged = false;
}

void TEditingModel::DropEditsOfNoFile()
{
  FPrompts.Information(Translate("No file is selected: the changes typed into the fields are dropped."));
  fTagsAreChanged = false;
  FCoverChanged = false;
}

void TEditingModel::EditFieldChange()
{
  if (!FUpdatingControls) fTagsAreChanged = true;
}

void TEditingModel::ShowSingleTag(const TAudioTag &Tag)
{
  FUpdatingControls = true;
  for (int f = 0; f < kEditFieldCount; ++f)
    FView.SetFieldText(static_cast<TEditField>(f), FromUtf8(FieldOf(Tag, static_cast<TEditField>(f))));
  TAudioTag shown = Tag;
  if (shown.CoverData.empty()) {
    // The table keeps no picture bytes for files on disk; the one shown is read on demand.
    if (const TCachedTag *entry = FindEntry(Tag.FileName)) ReadCover(*entry, shown.CoverMime, shown.CoverData);
  }
  FView.ShowCover(shown);
  RememberShownFields({});
  FUpdatingControls = false;
  FCurrentFile = Tag.FileName;
  fTagsAreChanged = false;
  FCoverChanged = false;
}

void TEditingModel::ShowMultiSelection(const std::vector<std::string> &Files)
{
  FUpdatingControls = true;
  FView.ClearCover();
  FCurrentFile.clear();
  std::vector<const TAudioTag *> records;
  records.reserve(Files.size());
  for (const std::string &file : Files)
    if (const TCachedTag *entry = FindCachedTag(file)) records.push_back(&entry->Tag);

  std::array<bool, kEditFieldCount> differs{};
  const auto showMerged = [&](TEditField field) {
    const std::string &first = FieldOf(*records[0], field);
    const bool same = std::all_of(records.begin(), records.end(),
                                  [&](const TAudioTag *r) { return SameText(FieldOf(*r, field), first); });
    FView.SetFieldText(field, same ? FromUtf8(first) : QString::fromLatin1(KeepMarker));
    // Shown as one value, but the files spell it differently: applying makes them agree.
    differs[static_cast<std::size_t>(field)] =
      same && !std::all_of(records.begin(), records.end(), [&](const TAudioTag *r) { return FieldOf(*r, field) == first; });
  };

  if (records.empty()) {
    for (int f = 0; f < kEditFieldCount; ++f) FView.SetFieldText(static_cast<TEditField>(f), QString());
  } else {
    for (TEditField field : kDropDownFields) {
      QStringList items;
      QSet<QString> seen;
      for (const TAudioTag *r : records) {
        const std::string &value = FieldOf(*r, field);
        if (value.empty()) continue;
        const QString text = FromUtf8(value);
        // The list's own lookup ignores letter case.
        const QString key = text.toCaseFolded();
        if (seen.contains(key)) continue;
        seen.insert(key);
        items.append(text);
      }
      FView.SetFieldSuggestions(field, items);
      showMerged(field);
    }
    showMerged(efComment);
    showMerged(efLyrics);
  }
  RememberShownFields(differs);
  FUpdatingControls = false;
  fTagsAreChanged = false;
  FCoverChanged = false;
}

void TEditingModel::RefreshSelection()
{
  const std::vector<std::string> files = GetSelectedFiles();
  for (const std::string &file : files) {
    const int row = FindListItem(file);
    if (const TCachedTag *entry = FindCachedTag(file); entry && row >= 0) UpdateListItem(row, entry->Tag);
  }
  if (files.size() == 1) {
    if (const TCachedTag *entry = FindEntry(files[0])) ShowSingleTag(entry->Tag);
  } else if (files.size() > 1) {
    ShowMultiSelection(files);
  }
}

void TEditingModel::ApplyEditsToSelection()
{
  const std::vector<std::string> files = GetSelectedFiles();
  if (files.empty()) return;
  PushUndo();

  std::array<QString, kEditFieldCount> texts;
  for (int f = 0; f < kEditFieldCount; ++f) texts[static_cast<std::size_t>(f)] = FView.FieldText(static_cast<TEditField>(f));
  const QString keep = QString::fromLatin1(KeepMarker);

  // The picture box is taken only when the user loaded or cleared a picture: it is empty for
  // several files and for a picture it could not decode, which must not empty those records.
  TAudioTag cover;
  if (FCoverChanged) FView.CoverFromImage(cover);
  const auto coverBytes = cover.CoverData.empty() ? nullptr : std::make_shared<const TBytes>(std::move(cover.CoverData));

  for (const std::string &file : files) {
    TCachedTag *entry = FindEntry(file);
    if (!entry) continue;
    for (int f = 0; f < kEditFieldCount; ++f) {
      const auto i = static_cast<std::size_t>(f);
      const QString &text = texts[i];
      if (text == keep) continue;
      // A field the user left as it was filled is not written: the view may show a value in a
      // form of its own (line breaks, for one), and the file keeps the value as it is.
      if (text == FShownTexts[i] && !FShownDiffers[i]) continue;
      // What was typed is one value: separate values the record kept for the field go, unless
      // the text is the record's own (it still stands for them).
      std::string typed = text.toStdString();
      if (typed != FieldOf(entry->Tag, static_cast<TEditField>(f)))
        SetFieldText(entry->Tag, AudioTagTextFields()[i].Member, std::move(typed));
    }
    if (FCoverChanged) {
      if (coverBytes) {
        entry->CoverState = TCoverState::InMemory;
        entry->CoverBytes = coverBytes;
        entry->CoverSize = coverBytes->size();
        entry->Tag.CoverMime = cover.CoverMime;
      } else {
        SetCoverFrom(*entry, std::string(), TBytes());
      }
    }
    entry->Tag.Modified = true;
    entry->RemoveAllTags = false;
    const int row = FindListItem(file);
    if (row >= 0) UpdateListItem(row, entry->Tag);
  }
  // The fields now hold what the records hold.
  for (int f = 0; f < kEditFieldCount; ++f) {
    const auto i = static_cast<std::size_t>(f);
    if (texts[i] != keep) {
      FShownTexts[i] = texts[i];
      FShownDiffers[i] = false;
    }
  }
  fTagsAreChanged = false;
  FCoverChanged = false;
  RestoreSortOrder();
}

void TEditingModel::RememberShownFields(const std::array<bool, kEditFieldCount> &Differs)
{
  for (int f = 0; f < kEditFieldCount; ++f) FShownTexts[static_cast<std::size_t>(f)] = FView.FieldText(static_cast<TEditField>(f));
  FShownDiffers = Differs;
}

void TEditingModel::btnLoadCoverClick()
{
  QString fileName;
  if (!FPrompts.OpenFileDialog(QString(), QStringLiteral("Images|*.jpg;*.jpeg;*.png;*.bmp"), fileName)) return;
  QString error;
  if (!FView.LoadCoverFromFile(fileName, error)) {
    FPrompts.Error(error);
    return;
  }
  PushUndo();
  fTagsAreChanged = true;
  FCoverChanged = true;
}

void TEditingModel::btnClearCoverClick()
{
  FView.ClearCover();
  PushUndo();
  fTagsAreChanged = true;
  FCoverChanged = true;
}

void TEditingModel::PushUndo()
{
  const std::vector<std::string> files = GetSelectedFiles();
  TUndoItem item;
  for (const std::string &file : files) {
    // A path without a record has nothing to restore; an empty record would wipe the file.
    const TCachedTag *entry = FindCachedTag(file);
    if (!entry) continue;
    item.Files.push_back(file);
    item.Tags.push_back(*entry);
    item.Tags.back().RemoveAllTags = false;
  }
  if (item.Files.empty()) return;
  FUndoStack.push_back(std::move(item));
  TrimUndoStack();
  UpdateUndoButton();
}

void TEditingModel::TrimUndoStack()
{
  while (FUndoStack.size() > static_cast<std::size_t>(kMaxUndoSteps)) FUndoStack.pop_front();
  std::size_t records = 0;
  for (const TUndoItem &item : FUndoStack) records += item.Files.size();
  while (FUndoStack.size() > 1 && records > kMaxUndoRecords) {
    records -= FUndoStack.front().Files.size();
    FUndoStack.pop_front();
  }
}

void TEditingModel::UpdateUndoButton() { FView.SetUndoEnabled(!FUndoStack.empty()); }

bool TEditingModel::KeepFilePictureForUndo(const std::string &FileName, const std::vector<TCachedTag *> &Snapshots)
{
  TAudioTag fromFile;
  if (!FTagService->LoadTag(FileName, fromFile)) return false;
  for (TCachedTag *snapshot : Snapshots) {
    if (snapshot->CoverState != TCoverState::InFile) continue;
    SetCoverFrom(*snapshot, fromFile.CoverMime, fromFile.CoverData);
  }
  return true;
}

bool TEditingModel::SaveEntry(TCachedTag &Entry, const std::vector<TCachedTag *> *UndoRefs)
{
  const std::string &file = Entry.Tag.FileName;
  // Before the file's picture may be replaced or removed, snapshots that only refer to it
  // take its bytes, or undo could not bring it back.
  if (UndoRefs && (Entry.RemoveAllTags || Entry.CoverState != TCoverState::InFile) &&
      !KeepFilePictureForUndo(file, *UndoRefs)) {
    if (!Entry.RemoveAllTags) return false;
    // An explicit removal goes ahead; a picture that cannot be read cannot come back either.
    for (TCachedTag *snapshot : *UndoRefs)
      if (snapshot->CoverState == TCoverState::InFile) SetCoverFrom(*snapshot, std::string(), TBytes());
  }

  if (Entry.RemoveAllTags) {
    if (!FTagService->RemoveTags(file)) return false;
    Entry.RemoveAllTags = false;
    SetCoverFrom(Entry, std::string(), TBytes());
    return true;
  }

  TAudioTag record = Entry.Tag;
  if (!ReadCover(Entry, record.CoverMime, record.CoverData)) return false;
  if (!FTagService->SaveTag(record)) return false;
  if (Entry.CoverState == TCoverState::InMemory) {
    // Written: from now on the file holds the bytes.
    Entry.CoverState = TCoverState::InFile;
    Entry.CoverSize = Entry.CoverBytes ? Entry.CoverBytes->size() : 0;
    Entry.CoverBytes.reset();
  }
  return true;
}

bool TEditingModel::OfferBackupRestore(const std::string &FileName)
{
  if (FTagService->GetLastFailure() != tsfBackupDiffers) return false;
  const QString question = FromUtf8(FTagService->GetLastError()) + QStringLiteral("\r\n\r\n") +
                           Translate("Put the backup back over the file and save again?");
  // A failed restore leaves its own message for the error list.
  return FPrompts.Confirm(question) && FTagService->RestoreBackup(FileName);
}

TSaveReport TEditingModel::btnSaveClick()
{
  if (fTagsAreChanged) {
    if (GetSelectedFiles().empty())
      DropEditsOfNoFile();
    else
      ApplyEditsToSelection();
  }

  // Snapshots that refer to a file's picture, by path, found once for the whole loop.
  std::unordered_map<std::string, std::vector<TCachedTag *>> undoRefs;
  for (TUndoItem &item : FUndoStack)
    for (std::size_t i = 0; i < item.Files.size(); ++i)
      if (item.Tags[i].CoverState == TCoverState::InFile) undoRefs[item.Files[i]].push_back(&item.Tags[i]);

  TSaveReport report;
  for (const auto &slot : FSlots) {
    if (!slot || !slot->Tag.Modified) continue;
    const auto refs = undoRefs.find(slot->Tag.FileName);
    const auto save = [&] { return SaveEntry(*slot, refs == undoRefs.end() ? nullptr : &refs->second); };
    if (save() || (OfferBackupRestore(slot->Tag.FileName) && save())) {
      slot->Tag.Modified = false;
      ++report.Saved;
    } else {
      report.Errors.push_back({slot->Tag.FileName, FTagService->GetLastError()});
      ++report.Failed;
    }
  }
  SetStatus(TranslateFormat("Saved tags to %d files. Errors: %d", report.Saved, report.Failed));
  if (!report.Errors.empty()) FView.ShowErrorReport(report.Errors);
  return report;
}

void TEditingModel::ActionUndoExecute()
{
  if (FUndoStack.empty()) return;
  TUndoItem step = std::move(FUndoStack.back());
  FUndoStack.pop_back();
  for (std::size_t i = 0; i < step.Files.size(); ++i) {
    const std::string &file = step.Files[i];
    TCachedTag snapshot = std::move(step.Tags[i]);
    snapshot.Tag.FileName = file;
    snapshot.Tag.Modified = true;
    snapshot.RemoveAllTags = false;
    TCachedTag *existing = FindEntry(file);
    TCachedTag &entry = existing ? *existing : AddEntry(file);
    entry = std::move(snapshot);
    const int row = FindListItem(file);
    if (row >= 0) UpdateListItem(row, entry.Tag);
  }
  RefreshSelection();
  UpdateUndoButton();
  fTagsAreChanged = false;
  FCoverChanged = false;
  RestoreSortOrder();
  btnSaveClick();
}

void TEditingModel::btnRemoveTagClick()
{
  const std::vector<std::string> files = GetSelectedFiles();
  if (files.empty()) {
    FPrompts.Information(Translate("Please select one or more files whose tags you want to clear."));
    return;
  }
  const int count = static_cast<int>(files.size());
  if (!FPrompts.Confirm(TranslateFormat("Clear all editable tag fields for %d file(s) and save?", count))) return;
  // The fields still show the old values; applying them on save would put them back.
  fTagsAreChanged = false;
  FCoverChanged = false;
  PushUndo();
  for (const std::string &file : files) {
    TCachedTag *entry = FindEntry(file);
    if (!entry) continue;
    for (const TAudioTagTextField &field : AudioTagTextFields()) SetFieldText(entry->Tag, field.Member, std::string());
    SetCoverFrom(*entry, std::string(), TBytes());
    entry->Tag.Modified = true;
    entry->RemoveAllTags = true;
    const int row = FindListItem(file);
    if (row >= 0) UpdateListItem(row, entry->Tag);
  }
  RestoreSortOrder();
  btnSaveClick();
  if (files.size() == 1) {
    if (const TCachedTag *entry = FindEntry(files[0])) ShowSingleTag(entry->Tag);
  } else {
    ShowMultiSelection(files);
  }
  SetStatus(TranslateFormat("Tags cleared for %d file(s) (in memory).", count));
}

void TEditingModel::ApplyActionsToSelection(const std::vector<TTagAction> &Actions)
{
  const std::vector<std::string> files = GetSelectedFiles();
  if (files.empty()) return;
  // What the user typed into the fields is for these files: it goes into their records first,
  // and the actions work on it, rather than the refilled fields dropping it.
  if (fTagsAreChanged) ApplyEditsToSelection();
  PushUndo();
  for (const std::string &file : files) {
    TCachedTag *entry = FindEntry(file);
    if (!entry) continue;
    ApplyActions(entry->Tag, Actions);
    entry->Tag.Modified = true;
    entry->RemoveAllTags = false;
  }
  RefreshSelection();
  RestoreSortOrder();
}

void TEditingModel::edtFilterChange(const QString &Text)
{
  const std::string filter = AsciiLowerCase(TrimBlanks(Text.toStdString()));
  if (filter == FFilterText) return;  // the same rows again: the selection and the fields stay
  FFilterText = filter;
  RebuildFileList();
}

bool TEditingModel::MatchesFilter(const TAudioTag &Tag, const std::string &Name) const
{
  if (FFilterText.empty()) return true;
  for (const std::string *text : {&Name, &Tag.Title, &Tag.Artist, &Tag.Album})
    if (AsciiLowerCase(*text).find(FFilterText) != std::string::npos) return true;
  return false;
}

void TEditingModel::RebuildFileList()
{
  // The selection goes with the old rows.
  OfferToSaveEdits();
  FRows.clear();
  FRowIndex.clear();
  FRowIndexValid = true;
  FCurrentFile.clear();
  FRowsInOrder = true;
  // The view sees the list emptied, then the rows that pass the filter appended: each row is
  // announced once, already in the order of the sort in force.
  FView.FileListReset();
  FillEmptyFields();
  for (const auto &slot : FSlots) {
    if (!slot || !MatchesFilter(slot->Tag, PathFileName(slot->Tag.FileName))) continue;
    FRows.push_back(slot->Tag.FileName);
    FRowIndex.emplace(slot->Tag.FileName, static_cast<int>(FRows.size() - 1));
  }
  if (FSorted) SortRows(false);
  if (!FRows.empty()) FView.FileListRowsAppended(0, RowCount());
}

void TEditingModel::SetStatus(const QString &Text)
{
  FView.SetStatusText(Text);
}

void TEditingModel::RenameFileInModel(const std::string &OldName, const std::string &NewName)
{
  MoveRecord(OldName, NewName);
  RestoreSortOrder();
}

void TEditingModel::MoveRecord(const std::string &OldName, const std::string &NewName)
{
  if (OldName == NewName || NewName.empty()) return;
  // Whatever was known of a file at the new path is of another file now.
  if (FindCachedTag(NewName) || FindListItem(NewName) >= 0)
    RemoveFileFromModel(NewName);
  else
    ForgetUndoForFile(NewName);

  if (const auto it = FIndex.find(OldName); it != FIndex.end()) {
    const std::size_t slot = it->second;
    FIndex.erase(it);
    FIndex.emplace(NewName, slot);
    TAudioTag &tag = FSlots[slot]->Tag;
    tag.FileName = NewName;
    tag.Modified = true;
  }
  const int row = FindListItem(OldName);
  if (row >= 0) {
    FRows[static_cast<std::size_t>(row)] = NewName;
    InvalidateRowIndex();
    UpdateListItem(row, TAudioTag());
  }
  if (FCurrentFile == OldName) FCurrentFile = NewName;
  for (TUndoItem &item : FUndoStack)
    for (std::size_t i = 0; i < item.Files.size(); ++i)
      if (item.Files[i] == OldName) {
        item.Files[i] = NewName;
        item.Tags[i].Tag.FileName = NewName;
      }
}

void TEditingModel::RenameFolderInModel(const std::string &OldFolder, const std::string &NewFolder)
{
  const std::string oldPrefix = WithSlash(OldFolder), newPrefix = WithSlash(NewFolder);
  if (oldPrefix == newPrefix || oldPrefix == "/") return;
  std::vector<std::string> paths;
  for (const auto &slot : FSlots)
    if (slot && HasPrefix(slot->Tag.FileName, oldPrefix)) paths.push_back(slot->Tag.FileName);
  for (const std::string &row : FRows)
    if (HasPrefix(row, oldPrefix)) paths.push_back(row);
  for (const TUndoItem &item : FUndoStack)
    for (const std::string &file : item.Files)
      if (HasPrefix(file, oldPrefix)) paths.push_back(file);
  if (HasPrefix(FCurrentFile, oldPrefix)) paths.push_back(FCurrentFile);
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  for (const std::string &path : paths) MoveRecord(path, newPrefix + path.substr(oldPrefix.size()));
  RestoreSortOrder();
}

void TEditingModel::RemoveFileFromModel(const std::string &FileName)
{
  EraseEntry(FileName);
  const int row = FindListItem(FileName);
  if (row >= 0) RemoveRow(row);
  if (FCurrentFile == FileName) {
    FCurrentFile.clear();
    FillEmptyFields();
  }
  ForgetUndoForFile(FileName);
}

void TEditingModel::FillEmptyFields()
{
  FUpdatingControls = true;
  for (int f = 0; f < kEditFieldCount; ++f) {
    FView.SetFieldText(static_cast<TEditField>(f), QString());
    FView.SetFieldSuggestions(static_cast<TEditField>(f), QStringList());
  }
  FView.ClearCover();
  RememberShownFields({});
  FUpdatingControls = false;
  fTagsAreChanged = false;
  FCoverChanged = false;
}

void TEditingModel::ForgetUndoForFile(const std::string &FileName)
{
  for (TUndoItem &item : FUndoStack) {
    for (std::size_t i = item.Files.size(); i-- > 0;) {
      if (item.Files[i] != FileName) continue;
      item.Files.erase(item.Files.begin() + static_cast<std::ptrdiff_t>(i));
      item.Tags.erase(item.Tags.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  std::erase_if(FUndoStack, [](const TUndoItem &item) { return item.Files.empty(); });
  UpdateUndoButton();
}
