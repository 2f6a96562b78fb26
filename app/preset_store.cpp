#include "app/preset_store.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>

#include "app/localization.h"
#include "app/settings_folder.h"

namespace {

// A presets file is a few kilobytes; anything this large is not one and is not read.
constexpr qint64 kMaxPresetsFileSize = 4 * 1024 * 1024;
const QByteArray kByteOrderMark("\xEF\xBB\xBF");

void AppendJsonString(QByteArray &Out, const QString &Text)
{
  static const char kHex[] = "0123456789ABCDEF";
  Out.append('"');
  for (const QChar c : Text) {
    const char16_t unit = c.unicode();
    switch (unit) {
      case u'"': Out.append("\\\""); break;
      case u'\\': Out.append("\\\\"); break;
      case u'/': Out.append("\\/"); break;
      case u'\b': Out.append("\\b"); break;
      case u'\t': Out.append("\\t"); break;
      case u'\n': Out.append("\\n"); break;
      case u'\f': Out.append("\\f"); break;
      case u'\r': Out.append("\\r"); break;
      default:
        if (unit < 0x20 || unit > 0x7F) {
          Out.append("\\u");
          for (int shift = 12; shift >= 0; shift -= 4) Out.append(kHex[(unit >> shift) & 0xF]);
        } else {
          Out.append(static_cast<char>(unit));
        }
    }
  }
  Out.append('"');
}

void AppendKey(QByteArray &Out, const char *Key)
{
  AppendJsonString(Out, QString::fromLatin1(Key));
  Out.append(':');
}

// Reading: a value of the wrong type makes the whole file unusable, so the reader reports it
// instead of guessing. Scalars under a text key are read as their text, null as missing.
struct TPresetsReader {
  bool Ok = true;

  QString Text(const QJsonObject &Object, const QString &Key, const QString &Missing)
  {
    const QJsonValue value = Object.value(Key);
    switch (value.type()) {
      case QJsonValue::String: return value.toString();
      case QJsonValue::Null:
      case QJsonValue::Undefined: return Missing;
      case QJsonValue::Bool: return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
      case QJsonValue::Double: {
        const double number = value.toDouble();
        return QString::number(number, 'g', 17);
      }
      default: Ok = false; return Missing;
    }
  }

  // The array under Key; empty when missing or null.
  QJsonArray Array(const QJsonObject &Object, const QString &Key)
  {
    const QJsonValue value = Object.value(Key);
    if (value.isArray()) return value.toArray();
    if (!value.isNull() && !value.isUndefined()) Ok = false;
    return {};
  }

  TTagAction Action(const QJsonObject &Object)
  {
    const QString title = QStringLiteral("Title");
    TTagAction action;
    action.Kind = TagActionKindFromText(Text(Object, QStringLiteral("kind"), QString()));
    action.TargetField = TagFieldFromText(Text(Object, QStringLiteral("target"), title));
    action.SourceField = TagFieldFromText(Text(Object, QStringLiteral("source"), title));
    action.SearchText = Text(Object, QStringLiteral("search"), QString());
    action.ReplaceText = Text(Object, QStringLiteral("replace"), QString());
    return action;
  }

  std::unique_ptr<TActionPreset> Preset(const QJsonObject &Object)
  {
    auto preset = std::make_unique<TActionPreset>();
    preset->Name = Text(Object, QStringLiteral("name"), QString());
    for (const QJsonValue &element : Array(Object, QStringLiteral("actions"))) {
      if (!element.isObject()) {
        Ok = false;
        break;
      }
      preset->Actions.push_back(Action(element.toObject()));
    }
    return preset;
  }
};

TTagAction MakeAction(TTagActionKind Kind, TTagField Target, const QString &Search = QString(),
                      const QString &Replace = QString())
{
  TTagAction action;
  action.Kind = Kind;
  action.TargetField = Target;
  action.SearchText = Search;
  action.ReplaceText = Replace;
  return action;
}

// A free name beside FileName for keeping an unusable file: "<name>.broken-<time>[-n]".
QString KeptAsideName(const QString &FileName)
{
  const QString base = FileName + QStringLiteral(".broken-") +
                       QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
  QString name = base;
  for (int n = 1; QFileInfo::exists(name); ++n) name = base + QLatin1Char('-') + QString::number(n);
  return name;
}

}  // namespace

QString DefaultPresetsFileName(const QString &Folder)
{
  const QString folder = Folder.isEmpty() ? SettingsFolder() : Folder;
  return folder + QStringLiteral("/QuickActionPresets.json");
}

TActionPresetStore::TActionPresetStore(const QString &AFileName) : FFileName(AFileName) {}

TActionPreset &TActionPresetStore::PresetByIndex(int Index)
{
  return *FPresets.at(static_cast<std::size_t>(Index));
}

const TActionPreset &TActionPresetStore::PresetByIndex(int Index) const
{
  return *FPresets.at(static_cast<std::size_t>(Index));
}

TActionPreset *TActionPresetStore::FindByName(const QString &AName)
{
  for (const auto &preset : FPresets)
    if (preset->Name.compare(AName, Qt::CaseInsensitive) == 0) return preset.get();
  return nullptr;
}

const TActionPreset *TActionPresetStore::FindByName(const QString &AName) const
{
  return const_cast<TActionPresetStore *>(this)->FindByName(AName);
}

void TActionPresetStore::AddPreset(std::unique_ptr<TActionPreset> APreset)
{
  if (APreset) FPresets.push_back(std::move(APreset));
}

void TActionPresetStore::DeletePresetByIndex(int Index)
{
  if (Index < 0 || Index >= PresetCount()) return;
  FPresets.erase(FPresets.begin() + Index);
}

void TActionPresetStore::CreateDefaultPresets()
{
  FPresets.clear();

  auto clean = std::make_unique<TActionPreset>();
  clean->Name = QStringLiteral("Quick Clean");
  for (const TTagField field : {tfTitle, tfArtist, tfAlbum, tfYear, tfTrack, tfGenre, tfComment}) {
    clean->Actions.push_back(MakeAction(takTrimSpaces, field));
    clean->Actions.push_back(MakeAction(takCollapseSpaces, field));
  }
  FPresets.push_back(std::move(clean));

  auto titleCase = std::make_unique<TActionPreset>();
  titleCase->Name = QStringLiteral("Title Case (Title/Artist/Album)");
  for (const TTagField field : {tfTitle, tfArtist, tfAlbum})
    titleCase->Actions.push_back(MakeAction(takTitleCase, field));
  FPresets.push_back(std::move(titleCase));

  auto scene = std::make_unique<TActionPreset>();
  scene->Name = QStringLiteral("Scene Cleanup (_ . to space)");
  scene->Actions.push_back(
      MakeAction(takReplaceText, tfTitle, QStringLiteral("_"), QStringLiteral(" ")));
  scene->Actions.push_back(
      MakeAction(takReplaceText, tfTitle, QStringLiteral("."), QStringLiteral(" ")));
  FPresets.push_back(std::move(scene));

  FLastPresetName = QStringLiteral("Quick Clean");
}

QByteArray TActionPresetStore::ToJson() const
{
  QByteArray out = kByteOrderMark;
  out.append('{');
  AppendKey(out, "lastPreset");
  AppendJsonString(out, FLastPresetName);
  out.append(',');
  AppendKey(out, "presets");
  out.append('[');
  for (std::size_t i = 0; i < FPresets.size(); ++i) {
    const TActionPreset &preset = *FPresets[i];
    if (i > 0) out.append(',');
    out.append('{');
    AppendKey(out, "name");
    AppendJsonString(out, preset.Name);
    out.append(',');
    AppendKey(out, "actions");
    out.append('[');
    for (std::size_t j = 0; j < preset.Actions.size(); ++j) {
      const TTagAction &action = preset.Actions[j];
      if (j > 0) out.append(',');
      out.append('{');
      AppendKey(out, "kind");
      AppendJsonString(out, TagActionKindName(action.Kind));
      out.append(',');
      AppendKey(out, "target");
      AppendJsonString(out, TagFieldName(action.TargetField));
      out.append(',');
      AppendKey(out, "source");
      AppendJsonString(out, TagFieldName(action.SourceField));
      out.append(',');
      AppendKey(out, "search");
      AppendJsonString(out, action.SearchText);
      out.append(',');
      AppendKey(out, "replace");
      AppendJsonString(out, action.ReplaceText);
      out.append('}');
    }
    out.append("]}");
  }
  out.append("]}");
  return out;
}

bool TActionPresetStore::Save()
{
  FLastError.clear();
  const QString folder = QFileInfo(FFileName).absolutePath();
  QSaveFile file(FFileName);
  const QByteArray bytes = ToJson();
  if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) ||
      file.write(bytes) != bytes.size() || !file.commit()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    FLastError = Translate("Cannot write the presets file: ") + FFileName +
                 QStringLiteral(" (") + reason + QLatin1Char(')');
    return false;
  }
  return true;
}

bool TActionPresetStore::Load()
{
  FPresets.clear();
  FLastPresetName.clear();
  FLastError.clear();
  FKeptAsideFileName.clear();

  const QFileInfo info(FFileName);
  if (!info.exists()) {
    CreateDefaultPresets();
    return Save();
  }

  // A file that exists but cannot be read is left alone: the built-in presets serve this run
  // and the user's file stays as it is. That includes a read that broke off, whose bytes cut
  // short would look like broken JSON and be moved aside.
  QFile file(FFileName);
  const bool tooLarge = info.isFile() && info.size() > kMaxPresetsFileSize;
  QByteArray bytes;
  if (info.isFile() && !tooLarge && file.open(QIODevice::ReadOnly)) bytes = file.read(kMaxPresetsFileSize + 1);
  if (!file.isOpen() || file.error() != QFileDevice::NoError) {
    if (tooLarge)
      FLastError = Translate("The presets file is too large: ") + FFileName;
    else
      FLastError = Translate("Cannot read the presets file: ") + FFileName +
                   QStringLiteral(" (") + file.errorString() + QLatin1Char(')');
    CreateDefaultPresets();
    return false;
  }
  file.close();
  if (bytes.startsWith(kByteOrderMark)) bytes.remove(0, kByteOrderMark.size());

  QJsonParseError parseError{};
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
  TPresetsReader reader;
  reader.Ok = parseError.error == QJsonParseError::NoError && document.isObject();
  if (reader.Ok) {
    const QJsonObject root = document.object();
    FLastPresetName = reader.Text(root, QStringLiteral("lastPreset"), QString());
    for (const QJsonValue &element : reader.Array(root, QStringLiteral("presets"))) {
      if (!element.isObject()) {
        reader.Ok = false;
        break;
      }
      std::unique_ptr<TActionPreset> preset = reader.Preset(element.toObject());
      if (!reader.Ok) break;
      if (!preset->Name.isEmpty()) FPresets.push_back(std::move(preset));
    }
  }

  if (!reader.Ok) {
    // Unusable content is moved aside, not overwritten: it may hold the user's presets.
    FPresets.clear();
    FLastPresetName.clear();
    CreateDefaultPresets();
    const QString keptAside = KeptAsideName(FFileName);
    if (!QFile::rename(FFileName, keptAside)) {
      FLastError = Translate("Cannot move the unreadable presets file aside: ") + FFileName;
      return false;
    }
    FKeptAsideFileName = keptAside;
    if (!Save()) return false;
    // Not a failure of the store, but the user should learn where the old file went.
    FLastError = Translate("The presets file could not be read and was kept as: ") + keptAside;
    return false;
  }

  if (FPresets.empty()) {
    CreateDefaultPresets();
    return Save();
  }
  if (FLastPresetName.isEmpty() || !FindByName(FLastPresetName))
    FLastPresetName = FPresets.front()->Name;
  return true;
}
