#pragma once
// IEditorView: what the editing model needs of the main window: the file list (whose rows the
// model owns and the view only displays), the selection, the sixteen edit fields, the cover
// picture box, the status line, the Undo button and the error window. The window implements
// it over its widgets; tests implement it in memory.
//
// Rows are numbered from 0 in the model's row order; SelectedRows() gives the selected ones in
// that order. A multi-line field (Comment, Lyrics) the user did not touch gives back the
// value it was set to exactly, line breaks included; typed text joins its lines as that value
// did (CR LF, CR), or with LF when it had no line break.

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

#include "app/service/audio_tag.h"

// The sixteen edit fields, in the order of the record's text fields (AudioTagTextFields()).
enum TEditField : int {
  efTitle, efArtist, efAlbum, efYear, efTrack, efGenre, efComment, efDisc, efBPM,
  efAlbumArtist, efComposer, efOrigArtist, efCopyright, efURL, efEncodedBy, efLyrics,
};
constexpr int kEditFieldCount = 16;

// The columns of the file list.
enum TFileListColumn : int {
  flcFile, flcDirectory, flcTitle, flcArtist, flcAlbumArtist, flcAlbum, flcDuration, flcYear, flcTrack,
};
constexpr int kFileListColumnCount = 9;

// One failed save: the file and the tag service's message.
struct TErrorItem {
  std::string FileName;
  std::string Message;
  bool operator==(const TErrorItem &) const = default;
};

class IEditorView {
public:
  virtual ~IEditorView() = default;

  // The file list changed: every row is new (and nothing is selected), rows were added at the
  // end, one row's texts changed, one row was removed (later rows move up by one), or the rows
  // were put into a new order (OldRowOfNewRow[new row] = its row before; the selection follows
  // its rows).
  virtual void FileListReset() = 0;
  virtual void FileListRowsAppended(int First, int Count) = 0;
  virtual void FileListRowChanged(int Row) = 0;
  virtual void FileListRowRemoved(int Row) = 0;
  virtual void FileListRowsReordered(const std::vector<int> &OldRowOfNewRow) = 0;
  virtual std::vector<int> SelectedRows() const = 0;

  virtual QString FieldText(TEditField Field) const = 0;
  virtual void SetFieldText(TEditField Field, const QString &Text) = 0;
  // Replaces a drop-down field's suggestion list.
  virtual void SetFieldSuggestions(TEditField Field, const QStringList &Items) = 0;

  // Shows Tag's picture (decoded from CoverData; nothing decodable shows the placeholder).
  virtual void ShowCover(const TAudioTag &Tag) = 0;
  // Empties the picture box and shows the placeholder.
  virtual void ClearCover() = 0;
  // Loads an image file into the picture box; false with the platform's message otherwise,
  // the picture box then unchanged.
  virtual bool LoadCoverFromFile(const QString &FileName, QString &Error) = 0;
  // Puts the picture box's content into Tag's CoverMime and CoverData (both empty when the
  // box is empty).
  virtual void CoverFromImage(TAudioTag &Tag) const = 0;

  virtual void SetStatusText(const QString &Text) = 0;
  virtual void SetUndoEnabled(bool Enabled) = 0;
  // The modal error window listing failed saves.
  virtual void ShowErrorReport(const std::vector<TErrorItem> &Errors) = 0;
};
