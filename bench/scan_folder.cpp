// corvella-bench-scan FOLDER: loads every audio file below FOLDER through TFileScanner and
// TEditingModel exactly as the main window does (one hand-over and one tag load per file on the
// main thread, rows and status line updated), with a view that draws nothing, then prints
// "files=N seconds=S peak_rss_mb=M": records in the table, wall time of the scan and the
// process's peak resident memory.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>

#include <cstdio>
#include <sys/resource.h>

#include "app/editing_model.h"

namespace {

// The window's side with nothing to draw: it keeps only what the model asks back.
class THeadlessView : public IEditorView {
public:
  void FileListReset() override {}
  void FileListRowsAppended(int, int) override {}
  void FileListRowChanged(int) override {}
  void FileListRowRemoved(int) override {}
  void FileListRowsReordered(const std::vector<int> &) override {}
  std::vector<int> SelectedRows() const override { return {}; }
  QString FieldText(TEditField) const override { return QString(); }
  void SetFieldText(TEditField, const QString &) override {}
  void SetFieldSuggestions(TEditField, const QStringList &) override {}
  void ShowCover(const TAudioTag &) override {}
  void ClearCover() override {}
  bool LoadCoverFromFile(const QString &, QString &) override { return false; }
  void CoverFromImage(TAudioTag &Tag) const override { Tag.CoverData.clear(); Tag.CoverMime.clear(); }
  void SetStatusText(const QString &Text) override { FStatus = Text; }
  void SetUndoEnabled(bool) override {}
  void ShowErrorReport(const std::vector<TErrorItem> &) override {}

private:
  QString FStatus;
};

class TNoPrompts : public IPrompts {
public:
  bool MessageBox(TMessageKind, const QString &) override { return false; }
  bool InputBox(const QString &, const QString &, QString &) override { return false; }
  bool PickFolder(const QString &, QString &) override { return false; }
  bool OpenFileDialog(const QString &, const QString &, QString &) override { return false; }
};

double PeakRssMiB()
{
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

} // namespace

int main(int argc, char **argv)
{
  QCoreApplication app(argc, argv);
  // The model ignores an empty root and would never report the end of a scan.
  if (argc != 2 || !QFileInfo(QString::fromLocal8Bit(argv[1])).isDir()) {
    std::fprintf(stderr, "usage: corvella-bench-scan FOLDER\n");
    return 2;
  }
  THeadlessView view;
  TNoPrompts prompts;
  TEditingModel model(CreateTagService(), view, prompts);

  QEventLoop loop;
  QObject::connect(&model, &TEditingModel::ScanCompleted, &loop, &QEventLoop::quit);
  QElapsedTimer timer;
  timer.start();
  model.StartScan(argv[1]);
  loop.exec();
  const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
  std::printf("files=%d seconds=%.3f peak_rss_mb=%.1f\n", model.TagCount(), seconds, PeakRssMiB());
  return 0;
}
