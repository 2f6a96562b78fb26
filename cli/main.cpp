// corvella-tags: reads and writes audio file tags from the command line, over the tag
// container and the tag service that the editor uses.

#include <exception>
#include <iostream>
#include <string>

#include "app/service/memory_reuse.h"
#include "cli/commands.h"

namespace {

constexpr const char *kHelp = R"(Usage: corvella-tags COMMAND [OPTIONS] ARGUMENTS

Reads and writes the tags of audio files with Corvella's tag library and tag service.

Commands:
  show [--json] [-r] [-j N] PATH...
      Shows each file's tag record as the editor loads it (the sixteen fields, the
      cover picture, the play time in whole seconds) and the tag container's view of
      the file: its content kind, the tag types found, every generic entry, every
      picture and the audio properties. Each file is loaded once. A free-text field
      with several values in the file (two artists) shows them joined by "; ".
      --json           one JSON object per file, one per line (see below)
      -r, --recursive  walk folders depth-first for files ending in .mp3 .flac .ogg
                       .opus .oga .ape .wv .mpc .m4a .m4b .mp4 .wma .wav .aif .aiff
                       .dsf .dff (any case), each folder's entries in byte order of
                       their names; folders that cannot be read are skipped with a
                       warning on standard error. Without -r a folder is an error.
      -j N, --jobs N   read files on N worker threads (0 to 256; 0, the default, is
                       one per core; 1 reads them one after another). The output is
                       the same for every N: files are printed in the order above,
                       each error and warning in its place among them.

  set FILE FIELD=VALUE... [--cover IMAGE | --no-cover]
      Loads FILE's record, changes the named fields and saves the record. Only what
      differs from the file is written; a record equal to the file writes nothing.
      While writing, a copy of the file is kept as FILE.qln_bak and put back if the
      write fails; it is deleted after success. An existing FILE.qln_bak that differs
      from the file is never overwritten: the save fails instead.
      FIELD is one of Title, Artist, Album, Year, Track, Genre, Comment, Disc, BPM,
      AlbumArtist, Composer, OrigArtist, Copyright, URL, EncodedBy, Lyrics (any case).
      VALUE is taken as it is, up to the end of the argument, and replaces all
      values the field had (Artist=AC; DC is one value); an empty VALUE clears
      the field; line breaks are real newlines in the argument (bash: $'one\ntwo').
      Track and Disc carry their totals: Track=4/12 stores the number 4 and the total
      12; Track=5 stores 5 and drops a stored total.
      --cover IMAGE    makes IMAGE (JPEG, PNG, GIF, BMP or TIFF, by its content) the
                       cover: it replaces the file's cover (its front cover, else
                       its first picture), others stay
      --no-cover       removes the file's cover; others stay
      After the save the file is read again, and every field that does not read back
      as given (a tag format that cannot hold it, an ID3v2 year frame that keeps four
      digits of a date, a genre number that reads back as its name) is named in a
      warning on standard error; the exit status stays 0.

  set-entry FILE NAME=VALUE...
      Sets generic entries by name (for example REPLAYGAIN_TRACK_GAIN=-6.5 dB or
      TITLE=Song) and saves every tag the file has. An empty VALUE deletes the
      entry. Names are compared without regard to ASCII case. It is saved with the
      same backup as set, put back if the write fails. As with set, an entry
      that does not read back as given is named in a warning on standard error.

  remove FILE...
      Removes every tag from each FILE, with the same backup as set.

  cover FILE OUT
      Writes the bytes of FILE's cover (its front cover, else its first picture) to
      OUT ("-" for standard output).
      Fails when the file has no picture.

  help, --help, -h
      Shows this text.

Arguments that begin with "-" are options; after "--" every argument is a name.

The JSON line of show --json:
  {"file", "ok", "error", "container", "tags", "record", "entries", "pictures", "audio"}
  file       the path as given or as found by -r
  ok         true when the file loaded
  error      the reason when it did not, else null
  container  the content kind: actMPEG, actFLAC, actOggFLAC, actVorbis, actOpus, actMP4,
             actWAV, actRF64, actAIFF, actWavPack, ..., actUnknown
  tags       the tag types found, in save order, e.g. ["ttID3v1", "ttID3v2"]
  record     {"Title", ..., "Lyrics", "FileType" (aftMP3, ...), "CoverMime",
              "CoverSize" (bytes), "DurationSec"}
  entries    [[name, value], ...] in the container's order; several values of one
             item are joined by CR LF
  pictures   [{"name", "mime", "type" (picture type number), "description", "size"}]
  audio      {"playTime" (seconds), "bitRate", "sampleRate", "channels",
              "bitsPerSample", "sampleCount"}
  When "ok" is false, "tags", "record", "entries", "pictures" and "audio" are null.

Errors: "File not found.", "Tags load error: N", "Tags save error: N",
"Tags remove error: N", "Backup failed: ..." (N is the tag container's result code).

Exit status: 0 when every file succeeded; 1 when any failed (each error is printed on
standard error, and with --json also in that file's line); 2 for a usage error.
)";

int Run(int argc, char **argv)
{
  if (argc < 2) {
    std::cerr << kHelp;
    return kExitUsage;
  }
  const std::string command = argv[1];
  const TArgList args(argv + 2, argv + argc);
  if (command == "help" || command == "--help" || command == "-h") {
    std::cout << kHelp;
    return kExitOk;
  }
  if (command == "show") return RunShow(args, std::cout, std::cerr);
  if (command == "set") return RunSet(args, std::cout, std::cerr);
  if (command == "set-entry") return RunSetEntry(args, std::cout, std::cerr);
  if (command == "remove") return RunRemove(args, std::cout, std::cerr);
  if (command == "cover") return RunCover(args, std::cout, std::cerr);
  return UsageError(std::cerr, "unknown command '" + command + "'");
}

} // namespace

int main(int argc, char **argv)
{
  KeepFreedMemoryForReuse();
  try {
    return Run(argc, argv);
  } catch (const std::exception &e) {
    std::cerr << "corvella-tags: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "corvella-tags: unexpected failure\n";
  }
  return kExitFailed;
}
