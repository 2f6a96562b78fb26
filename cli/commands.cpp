#include "cli/commands.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <utility>

#include "app/service/tag_service.h"
#include "cli/folder_walk.h"
#include "cli/json_writer.h"
#include "cli/ordered_work.h"
#include "tags/detect/content_type.h"
#include "tags/picture/picture_format.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tags/text/lines.h"
#include "tags/text/text.h"

namespace {

using namespace TagServiceTexts;

constexpr const char *kToolName = "corvella-tags";

// What `show` reports of one file: the record as the service loads it and the container's own
// view of the same file.
struct TPictureView {
  std::string Name, MIMEType, Description;
  std::int32_t CoverType = 0;
  std::size_t Size = 0;
};

struct TAudioView {
  double PlayTime = 0;
  int BitRate = 0, SampleRate = 0, Channels = 0, BitsPerSample = 0;
  std::int64_t SampleCount = 0;
};

struct TFileView {
  std::string File;
  bool Ok = false;
  std::string Error;
  TAudioContainerType Container = actUnknown;
  TAudioTag Record;          // without the picture's bytes
  std::uint64_t CoverSize = 0;  // the record's picture
  std::vector<TTagType> TagTypes;
  std::vector<std::pair<std::string, std::string>> Entries;
  std::vector<TPictureView> Pictures;
  TAudioView Audio;
};

// Loads the file once and takes everything from that one load: the record (filled as the tag
// service's LoadTag fills it, through the same ReadFields) and the container's own view.
TFileView Inspect(const std::string &FileName)
{
  TFileView v;
  v.File = FileName;
  try {
    TTags tags;
    // The kind of audio comes from the same read as the tags: one open per file.
    tags.DetectContainerType = true;
    const int code = LoadTagsOfFile(tags, FileName);
    v.Container = tags.ContainerType;
    // The load opens regular files only: a FIFO or a device is refused, never read.
    if (code != tagsOk) {
      v.Error = LoadFailureText(FileName, code);
      return v;
    }
    // The record as the service loads it; its picture is described, not fetched.
    v.CoverSize = RecordFromTags(tags, FileName, v.Record);
    v.TagTypes = tags.LoadedTagTypes();
    for (const auto &t : tags.Tags) v.Entries.emplace_back(t->Name, t->Value);
    for (const auto &p : tags.CoverArts)
      v.Pictures.push_back({p->Name, p->MIMEType, p->Description, p->CoverType, static_cast<std::size_t>(p->DataSize())});
    const TSourceAudioAttributes &a = tags.SourceAudioAttributes;
    v.Audio = {a.PlayTime(), a.BitRate(), a.SamplesPerSec(), a.Channels(), a.BitsPerSample(), a.SampleCount()};
    v.Ok = true;
  } catch (const std::exception &e) {
    // As the service reports a load that threw: the file failed, the others go on.
    TFileView failed;
    failed.File = FileName;
    failed.Container = v.Container;
    failed.Error = e.what();
    return failed;
  }
  return v;
}

std::string ShowJson(const TFileView &v)
{
  TJsonWriter j;
  j.BeginObject();
  j.Key("file").String(v.File);
  j.Key("ok").Bool(v.Ok);
  j.Key("error");
  if (v.Ok) j.Null(); else j.String(v.Error);
  j.Key("container").String(AudioContainerTypeName(v.Container));
  if (!v.Ok) {
    for (const char *key : {"tags", "record", "entries", "pictures", "audio"}) j.Key(key).Null();
    j.EndObject();
    return j.Text();
  }
  j.Key("tags").BeginArray();
  for (TTagType t : v.TagTypes) j.String(TagTypeName(t));
  j.EndArray();

  j.Key("record").BeginObject();
  for (const TAudioTagTextField &f : AudioTagTextFields()) j.Key(f.Name).String(v.Record.*f.Member);
  j.Key("FileType").String(AudioFileTypeName(v.Record.FileType));
  j.Key("CoverMime").String(v.Record.CoverMime);
  j.Key("CoverSize").Int(static_cast<std::int64_t>(v.CoverSize));
  j.Key("DurationSec").Int(v.Record.DurationSec);
  j.EndObject();

  j.Key("entries").BeginArray();
  for (const auto &[name, value] : v.Entries) j.BeginArray().String(name).String(value).EndArray();
  j.EndArray();

  j.Key("pictures").BeginArray();
  for (const TPictureView &p : v.Pictures) {
    j.BeginObject();
    j.Key("name").String(p.Name);
    j.Key("mime").String(p.MIMEType);
    j.Key("type").Int(p.CoverType);
    j.Key("description").String(p.Description);
    j.Key("size").Int(static_cast<std::int64_t>(p.Size));
    j.EndObject();
  }
  j.EndArray();

  j.Key("audio").BeginObject();
  j.Key("playTime").Number(v.Audio.PlayTime);
  j.Key("bitRate").Int(v.Audio.BitRate);
  j.Key("sampleRate").Int(v.Audio.SampleRate);
  j.Key("channels").Int(v.Audio.Channels);
  j.Key("bitsPerSample").Int(v.Audio.BitsPerSample);
  j.Key("sampleCount").Int(v.Audio.SampleCount);
  j.EndObject();

  j.EndObject();
  return j.Text();
}

// Text from a file made safe for a terminal: invalid UTF-8 becomes U+FFFD and control
// characters (other than tab) are shown as \xNN, so a tag cannot drive the terminal.
std::string Printable(std::string_view Text)
{
  const std::string utf8 = IsValidUtf8(Text) ? std::string(Text) : SanitizeUtf8(Text);
  std::string out;
  static constexpr char hex[] = "0123456789abcdef";
  auto escape = [&](unsigned code) {
    out += "\\x";
    out += hex[(code >> 4) & 15];
    out += hex[code & 15];
  };
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if ((b < 0x20 && b != '\t') || b == 0x7F) {
      escape(b);
    } else if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      // C1 controls, U+0080 to U+009F.
      escape(static_cast<unsigned char>(utf8[i + 1]));
      ++i;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

constexpr int kLabelWidth = 14;

void PrintValue(std::ostream &Out, const std::string &Label, std::string_view Value, int Indent = 2)
{
  std::vector<std::string> lines = SplitLines(Value);
  if (lines.empty()) lines.emplace_back();
  // A label as long as the column (ORIGINALARTIST, RECORDINGDATE, ...) still gets a blank
  // before its value.
  Out << std::string(static_cast<std::size_t>(Indent), ' ') << std::left << std::setw(kLabelWidth - 1)
      << Printable(Label) << ' ' << Printable(lines[0]) << '\n';
  for (std::size_t i = 1; i < lines.size(); ++i)
    Out << std::string(static_cast<std::size_t>(Indent + kLabelWidth), ' ') << Printable(lines[i]) << '\n';
}

std::string ShowText(const TFileView &v)
{
  std::ostringstream Out;
  Out << Printable(v.File) << '\n';
  if (!v.Ok) {
    PrintValue(Out, "Error", v.Error);
    Out << '\n';
    return Out.str();
  }
  PrintValue(Out, "Container", AudioContainerTypeName(v.Container));
  std::string types;
  for (TTagType t : v.TagTypes) types += (types.empty() ? "" : ", ") + std::string(TagTypeName(t));
  PrintValue(Out, "Tags", types.empty() ? "(none)" : types);
  PrintValue(Out, "FileType", AudioFileTypeName(v.Record.FileType));
  PrintValue(Out, "DurationSec", std::to_string(v.Record.DurationSec));
  for (const TAudioTagTextField &f : AudioTagTextFields())
    if (!(v.Record.*f.Member).empty()) PrintValue(Out, f.Name, v.Record.*f.Member);
  if (v.CoverSize > 0) PrintValue(Out, "Cover", v.Record.CoverMime + ", " + std::to_string(v.CoverSize) + " bytes");

  PrintValue(Out, "Entries", std::to_string(v.Entries.size()));
  for (const auto &[name, value] : v.Entries) PrintValue(Out, name, value, 4);
  PrintValue(Out, "Pictures", std::to_string(v.Pictures.size()));
  for (std::size_t i = 0; i < v.Pictures.size(); ++i) {
    const TPictureView &p = v.Pictures[i];
    PrintValue(Out, std::to_string(i + 1) + ".",
               p.Name + ": " + (p.MIMEType.empty() ? "(no MIME type)" : p.MIMEType) + ", type " +
                 std::to_string(p.CoverType) + ", " + std::to_string(p.Size) + " bytes" +
                 (p.Description.empty() ? "" : ", \"" + p.Description + "\""),
               4);
  }
  std::ostringstream audio;
  audio << v.Audio.PlayTime << " s, " << v.Audio.BitRate << " kbit/s, " << v.Audio.SampleRate << " Hz, "
        << v.Audio.Channels << " channels, " << v.Audio.BitsPerSample << " bits, " << v.Audio.SampleCount
        << " samples";
  PrintValue(Out, "Audio", audio.str());
  Out << '\n';
  return Out.str();
}

std::string ErrorLine(const std::string &File, const std::string &Message)
{
  return std::string(kToolName) + ": " + Printable(File) + ": " + Printable(Message) + '\n';
}

void ReportError(std::ostream &Err, const std::string &File, const std::string &Message)
{
  Err << ErrorLine(File, Message);
}

// Splits "NAME=VALUE" at its first "="; false when there is none.
bool SplitAssignment(const std::string &Arg, std::string &Name, std::string &Value)
{
  const auto eq = Arg.find('=');
  if (eq == std::string::npos) return false;
  Name = Arg.substr(0, eq);
  Value = Arg.substr(eq + 1);
  return true;
}

const TAudioTagTextField *FindField(const std::string &Name)
{
  for (const TAudioTagTextField &f : AudioTagTextFields())
    if (SameText(f.Name, Name)) return &f;
  return nullptr;
}

// True when no later assignment in List names (by NameOf, ASCII case folded) what List[Index]
// names: only the last one given for a name is what the file should hold.
template <typename TList, typename TNameOf> bool IsLastAssignment(const TList &List, std::size_t Index, TNameOf NameOf)
{
  for (std::size_t k = Index + 1; k < List.size(); ++k)
    if (SameText(NameOf(List[k]), NameOf(List[Index]))) return false;
  return true;
}

bool IsOption(const std::string &Arg) { return Arg.size() > 1 && Arg[0] == '-'; }

bool IsAsciiDigit(char C) { return C >= '0' && C <= '9'; }

bool WriteAll(int Fd, const TBytes &Data)
{
  std::size_t done = 0;
  while (done < Data.size()) {
    const ssize_t n = ::write(Fd, Data.data() + done, Data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// What show does with one item of its list, in the order of the arguments and of the walk.
enum class TShowKind { File, Folder, Warning };

struct TShowTask {
  TShowKind Kind;
  std::string Path;  // the file or folder; for a warning, its text
};

// One item's output, made ready by a worker: its text for standard output and, for a failure or
// a warning, its line for standard error.
struct TShown {
  std::string Out, Err;
  bool Failed = false;
};

// Workers of show: -j takes 0 (one per core) up to this many.
constexpr unsigned kMaxShowWorkers = 256;
// How far the workers may run ahead of the printer, in items: enough that a slow file does not
// leave the other workers idle, and few enough that a large folder is never held whole.
constexpr std::size_t kShowWindow = 256;
// Standard output is written in pieces of about this size, not once per file.
constexpr std::size_t kShowOutputPiece = 64 * 1024;

TShown ShowItem(const TShowTask &Task, bool Json)
{
  TShown shown;
  if (Task.Kind == TShowKind::Warning) {
    shown.Err = std::string(kToolName) + ": warning: " + Printable(Task.Path) + '\n';
    return shown;
  }
  TFileView v;
  if (Task.Kind == TShowKind::Folder) {
    v.File = Task.Path;
    v.Error = "Is a folder; use -r to walk it.";
  } else {
    v = Inspect(Task.Path);
  }
  shown.Out = Json ? ShowJson(v) + '\n' : ShowText(v);
  if (!v.Ok) {
    shown.Err = ErrorLine(v.File, v.Error);
    shown.Failed = true;
  }
  return shown;
}

// The one writer of show's output. Standard output collects in a buffer written in large
// pieces; before a line goes to standard error the buffer is written out, so that where both
// reach one terminal they read in the same order as an unbuffered run would print them.
class TShowPrinter {
public:
  TShowPrinter(std::ostream &Out, std::ostream &Err) : FOut(Out), FErr(Err) {}
  // What was shown before a failure that ends the run early still reaches standard output.
  ~TShowPrinter() { Flush(); }
  TShowPrinter(const TShowPrinter &) = delete;
  TShowPrinter &operator=(const TShowPrinter &) = delete;

  // False once standard output cannot be written.
  bool Print(const TShown &Shown)
  {
    FBuffer += Shown.Out;
    if (!Shown.Err.empty()) {
      const bool written = Flush();
      FErr << Shown.Err;
      FErr.flush();
      return written;
    }
    return FBuffer.size() < kShowOutputPiece || Flush();
  }

  bool Flush()
  {
    if (!FBuffer.empty()) FOut.write(FBuffer.data(), static_cast<std::streamsize>(FBuffer.size()));
    FBuffer.clear();
    FOut.flush();
    return static_cast<bool>(FOut);
  }

private:
  std::ostream &FOut;
  std::ostream &FErr;
  std::string FBuffer;
};

// The value of -j: a decimal count from 0 to kMaxShowWorkers, nothing else.
bool ParseWorkerCount(const std::string &Text, unsigned &Count)
{
  const char *end = Text.data() + Text.size();
  unsigned value = 0;
  const auto [stop, error] = std::from_chars(Text.data(), end, value);
  if (Text.empty() || error != std::errc() || stop != end || value > kMaxShowWorkers) return false;
  Count = value;
  return true;
}

unsigned WorkerCount(unsigned Asked)
{
  if (Asked > 0) return Asked;
  return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace

int UsageError(std::ostream &Err, const std::string &Message)
{
  Err << kToolName << ": " << Message << '\n' << "Try '" << kToolName << " --help'.\n";
  return kExitUsage;
}

int RunShow(const TArgList &Args, std::ostream &Out, std::ostream &Err)
{
  bool json = false, recursive = false, optionsEnd = false;
  unsigned jobs = 0;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string &a = Args[i];
    if (!optionsEnd && a == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && a == "--json") {
      json = true;
    } else if (!optionsEnd && (a == "-r" || a == "--recursive")) {
      recursive = true;
    } else if (!optionsEnd && (a == "-j" || a == "--jobs" || a.rfind("--jobs=", 0) == 0 ||
                               (a.size() > 2 && a.rfind("-j", 0) == 0 && IsAsciiDigit(a[2])))) {
      // -j N, --jobs N, --jobs=N, and -jN.
      std::string value;
      if (a == "-j" || a == "--jobs") {
        if (i + 1 >= Args.size()) return UsageError(Err, "show: " + a + " needs a number of workers");
        value = Args[++i];
      } else {
        value = a.substr(a[1] == 'j' ? 2 : 7);
      }
      if (!ParseWorkerCount(value, jobs))
        return UsageError(Err, "show: the number of workers is 0 (one per core) to " +
                                 std::to_string(kMaxShowWorkers) + ", not '" + value + "'");
    } else if (!optionsEnd && IsOption(a)) {
      return UsageError(Err, "show: unknown option '" + a + "'");
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return UsageError(Err, "show: no file or folder given");

  std::vector<TShowTask> tasks;
  for (const std::string &path : paths) {
    if (!DirectoryExists(path)) {
      tasks.push_back({TShowKind::File, path});
      continue;
    }
    if (!recursive) {
      tasks.push_back({TShowKind::Folder, path});
      continue;
    }
    std::vector<std::string> files, warnings;
    CollectAudioFiles(path, files, warnings);
    for (std::string &w : warnings) tasks.push_back({TShowKind::Warning, std::move(w)});
    for (std::string &f : files) tasks.push_back({TShowKind::File, std::move(f)});
  }

  // Each worker loads with its own containers; the printer takes the results in list order.
  const unsigned workers = WorkerCount(jobs);
  TShowPrinter printer(Out, Err);
  int status = kExitOk;
  const bool allPrinted = RunOrdered<TShown>(
    tasks.size(), workers, std::max<std::size_t>(kShowWindow, 4 * std::size_t{workers}),
    [&](std::size_t i) { return ShowItem(tasks[i], json); },
    [&](TShown &&shown) {
      if (shown.Failed) status = kExitFailed;
      return printer.Print(shown);
    });
  if (!allPrinted || !printer.Flush()) {
    ReportError(Err, "-", "Writing to standard output failed.");
    return kExitFailed;
  }
  return status;
}

int RunSet(const TArgList &Args, std::ostream &, std::ostream &Err)
{
  std::string file, coverFile;
  bool haveFile = false, cover = false, noCover = false, optionsEnd = false;
  std::vector<std::pair<const TAudioTagTextField *, std::string>> changes;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string &a = Args[i];
    if (!optionsEnd && a == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && a == "--cover") {
      if (i + 1 >= Args.size()) return UsageError(Err, "set: --cover needs an image file");
      coverFile = Args[++i];
      cover = true;
    } else if (!optionsEnd && a.rfind("--cover=", 0) == 0) {
      coverFile = a.substr(8);
      cover = true;
    } else if (!optionsEnd && a == "--no-cover") {
      noCover = true;
    } else if (!optionsEnd && IsOption(a)) {
      return UsageError(Err, "set: unknown option '" + a + "'");
    } else if (!haveFile) {
      file = a;
      haveFile = true;
    } else {
      std::string name, value;
      if (!SplitAssignment(a, name, value)) return UsageError(Err, "set: expected Field=Value, got '" + a + "'");
      const TAudioTagTextField *field = FindField(name);
      if (!field) return UsageError(Err, "set: unknown field '" + name + "'");
      changes.emplace_back(field, value);
    }
  }
  if (!haveFile) return UsageError(Err, "set: no file given");
  if (cover && noCover) return UsageError(Err, "set: --cover and --no-cover exclude each other");
  if (cover && coverFile.empty()) return UsageError(Err, "set: --cover needs an image file");
  if (changes.empty() && !cover && !noCover) return UsageError(Err, "set: nothing to set");

  TBytes picture;
  std::string pictureMime;
  if (cover) {
    const std::int64_t size = FileSizeOf(coverFile);
    if (!FileExists(coverFile) || size < 0) {
      ReportError(Err, coverFile, TagServiceText(FileNotFound));
      return kExitFailed;
    }
    if (size > kMaxCoverFileBytes) {
      ReportError(Err, coverFile, "The picture is larger than 100 MiB.");
      return kExitFailed;
    }
    if (!ReadWholeFile(coverFile, picture)) {
      ReportError(Err, coverFile, "The picture cannot be read.");
      return kExitFailed;
    }
    pictureMime = SniffPictureMIMEType(picture.data(), picture.size());
    if (picture.empty() || pictureMime.empty()) {
      ReportError(Err, coverFile, "Not a JPEG, PNG, GIF, BMP or TIFF picture.");
      return kExitFailed;
    }
  }

  const std::shared_ptr<ITagService> service = CreateTagService();
  TAudioTag record;
  if (!service->LoadTag(file, record)) {
    ReportError(Err, file, service->GetLastError());
    return kExitFailed;
  }
  for (const auto &[field, value] : changes) SetFieldText(record, field->Member, value);
  if (cover) {
    record.CoverData = std::move(picture);
    record.CoverMime = pictureMime;
  } else if (noCover) {
    record.CoverData.clear();
    record.CoverMime.clear();
  }
  record.Modified = true;
  if (!service->SaveTag(record)) {
    ReportError(Err, file, service->GetLastError());
    return kExitFailed;
  }
  // A tag format may not hold everything as given (ID3v1 alone cuts texts to 30 bytes and
  // knows no pictures, an ID3v2 year frame holds four digits, a numeric genre reads back as
  // its name): say what did not arrive as given. The year is compared as the file holds it,
  // not as the record cuts it to four characters.
  TTags tags;
  int code = LoadTagsOfFile(tags, file);
  if (code == tagsOk) {
    TAudioTag back;
    ReadFields(tags, back);
    for (std::size_t i = 0; i < changes.size(); ++i) {
      const auto &[field, value] = changes[i];
      if (!IsLastAssignment(changes, i, [](const auto &c) { return std::string(c.first->Name); })) continue;
      const std::string got = field->Member == &TAudioTag::Year ? ReadFullYear(tags) : back.*field->Member;
      if (got != value) ReportError(Err, file, std::string("warning: ") + field->Name + " reads back as \"" + got + "\"");
    }
    if (noCover && !back.CoverData.empty())
      ReportError(Err, file, "warning: a picture is still there");
    else if (cover && back.CoverData.empty())
      ReportError(Err, file, "warning: the cover was not stored; no tag of this file holds pictures");
    else if (cover && back.CoverData != record.CoverData)
      ReportError(Err, file, "warning: the cover reads back with other bytes");
  }
  return kExitOk;
}

int RunSetEntry(const TArgList &Args, std::ostream &, std::ostream &Err)
{
  std::string file;
  bool haveFile = false, optionsEnd = false;
  std::vector<TTagEntryValue> entries;
  for (const std::string &a : Args) {
    if (!optionsEnd && a == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && IsOption(a)) {
      return UsageError(Err, "set-entry: unknown option '" + a + "'");
    } else if (!haveFile) {
      file = a;
      haveFile = true;
    } else {
      std::string name, value;
      if (!SplitAssignment(a, name, value) || name.empty())
        return UsageError(Err, "set-entry: expected NAME=VALUE, got '" + a + "'");
      entries.emplace_back(name, value);
    }
  }
  if (!haveFile) return UsageError(Err, "set-entry: no file given");
  if (entries.empty()) return UsageError(Err, "set-entry: nothing to set");

  // Through the service, as set: the same refusals, backup and restore.
  const std::shared_ptr<ITagService> service = CreateTagService();
  if (!service->SetEntries(file, entries)) {
    ReportError(Err, file, service->GetLastError());
    return kExitFailed;
  }
  // As for set: an entry no tag of the file keeps as given is named.
  TTags back;
  if (LoadTagsOfFile(back, file) == tagsOk)
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto &[name, value] = entries[i];
      if (!IsLastAssignment(entries, i, [](const auto &e) { return e.first; })) continue;
      if (const std::string got = back.GetText(name); got != value)
        ReportError(Err, file, "warning: " + name + " reads back as \"" + got + "\"");
    }
  return kExitOk;
}

int RunRemove(const TArgList &Args, std::ostream &, std::ostream &Err)
{
  bool optionsEnd = false;
  std::vector<std::string> files;
  for (const std::string &a : Args) {
    if (!optionsEnd && a == "--") optionsEnd = true;
    else if (!optionsEnd && IsOption(a)) return UsageError(Err, "remove: unknown option '" + a + "'");
    else files.push_back(a);
  }
  if (files.empty()) return UsageError(Err, "remove: no file given");

  const std::shared_ptr<ITagService> service = CreateTagService();
  int status = kExitOk;
  for (const std::string &file : files) {
    if (!service->RemoveTags(file)) {
      ReportError(Err, file, service->GetLastError());
      status = kExitFailed;
    }
  }
  return status;
}

int RunCover(const TArgList &Args, std::ostream &Out, std::ostream &Err)
{
  bool optionsEnd = false;
  std::vector<std::string> positional;
  for (const std::string &a : Args) {
    if (!optionsEnd && a == "--") optionsEnd = true;
    else if (!optionsEnd && IsOption(a)) return UsageError(Err, "cover: unknown option '" + a + "'");
    else positional.push_back(a);
  }
  if (positional.size() != 2) return UsageError(Err, "cover: expected FILE OUT");
  const std::string &file = positional[0], &outFile = positional[1];

  const std::shared_ptr<ITagService> service = CreateTagService();
  TAudioTag record;
  if (!service->LoadTag(file, record)) {
    ReportError(Err, file, service->GetLastError());
    return kExitFailed;
  }
  if (record.CoverData.empty()) {
    ReportError(Err, file, "The file has no picture.");
    return kExitFailed;
  }
  if (outFile == "-") {
    Out.write(reinterpret_cast<const char *>(record.CoverData.data()),
              static_cast<std::streamsize>(record.CoverData.size()));
    Out.flush();
    if (!Out) {
      ReportError(Err, outFile, "Writing to standard output failed.");
      return kExitFailed;
    }
    return kExitOk;
  }
  const int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    ReportError(Err, outFile, ErrnoText(errno));
    return kExitFailed;
  }
  bool ok = WriteAll(fd, record.CoverData);
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ReportError(Err, outFile, ErrnoText(error));
    return kExitFailed;
  }
  return kExitOk;
}
