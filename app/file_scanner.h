#pragma once
// TFileScanner: walks a folder tree on a worker thread, depth-first, for audio files (the
// extensions IsScannedAudioFileName lists, compared without regard to ASCII letter case) and hands each file found, and then the end of the walk, to the thread that
// created the scanner, waiting until each hand-over has run there.
//
// Invariants:
// - The callbacks run on the creating thread only, one at a time, in walk order; the finished
//   callback runs exactly once per scanner, also when the walk was stopped or the root could
//   not be listed.
// - Hidden entries are included; "." and ".." are skipped; directory links are not followed
//   (no loops); only regular files (directly or behind a file link) are handed over, so a
//   FIFO or device with an audio name cannot block anything.
// - Names are kept as the raw bytes the file system gives (paths are std::string), so a name
//   that is not valid UTF-8 still reaches the tag service intact.
// - WaitFor() serves pending hand-overs on the calling thread while it waits, so stopping a
//   scanner that is blocked in a hand-over cannot deadlock; it runs no other events.
// - A scanner is started once and never reused; its destructor stops and joins it.

#include <QObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

using TScanProgressEvent = std::function<void(const std::string &AFileName)>;
using TScanFinishedEvent = std::function<void()>;

class TFileScanner : public QThread {
  Q_OBJECT
public:
  // Either callback may be empty. Call Start() to begin the walk.
  TFileScanner(std::string ARoot, TScanProgressEvent AOnProgress, TScanFinishedEvent AOnFinished);
  ~TFileScanner() override;

  void Start() { start(); }
  // Requests a stop; the walk ends before its next folder or entry.
  void Terminate() { FStopRequested.store(true); }
  bool StopRequested() const { return FStopRequested.load(); }
  // Waits for the thread to end while serving its hand-overs on this thread. Returns false
  // without waiting when called from inside one of this scanner's own callbacks (the walk
  // cannot end while that callback is still running); the stop request stays.
  bool WaitFor();

  const std::string &Root() const { return FRoot; }
  // The files found so far, in walk order. Read it only after WaitFor() returned true.
  const std::vector<std::string> &Files() const { return FFiles; }

  // True when the extension of Name (from its last ".") is one of the seven scanned ones.
  static bool IsAudioFileName(std::string_view Name);

protected:
  void run() override;

private:
  enum class THandOver { None, Progress, Finished };

  void DoScan(const std::string &Folder);
  // Worker side: queues one hand-over and blocks until the creating thread has run it.
  void HandOver(THandOver Kind, const std::string &FileName);
  // Creating-thread side: runs the pending hand-over, if any, and releases the worker.
  void ServePending();

  std::string FRoot;
  std::vector<std::string> FFiles;
  TScanProgressEvent FOnProgress;
  TScanFinishedEvent FOnFinished;
  std::atomic<bool> FStopRequested{false};

  // Lives on the creating thread: queued hand-over calls are delivered through it, and are
  // dropped with it when the scanner is destroyed.
  QObject FDelivery;
  std::mutex FLock;
  std::condition_variable FChanged;
  THandOver FPendingKind = THandOver::None;
  std::string FPendingFile;
  bool FPendingServed = false;
  bool FWorkerDone = false;
  bool FInCallback = false;  // creating thread only
};
