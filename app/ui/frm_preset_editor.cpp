#include "app/ui/frm_preset_editor.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>

#include "app/localization.h"
#include "app/ui/frm_preset_action_edit.h"
#include "app/ui/widget_prompts.h"

namespace {

QPushButton *PanelButton(const char *Text, const char *Name, QWidget *Panel, int Top)
{
  auto *button = new QPushButton(Translate(Text), Panel);
  button->setObjectName(QString::fromLatin1(Name));
  button->setGeometry(10, Top, 180, 28);
  return button;
}

bool SameName(const QString &A, const QString &B) { return A.compare(B, Qt::CaseInsensitive) == 0; }

}  // namespace

TFrmPresetEditor::TFrmPresetEditor(QWidget *AOwner, TActionPresetStore &AStore, IPrompts *Prompts)
    : QDialog(AOwner), FStore(AStore)
{
  if (!Prompts) FOwnPrompts = std::make_unique<TWidgetPrompts>(this);
  FPrompts = Prompts ? Prompts : FOwnPrompts.get();
  EditPresetDialog = [this](QWidget *Owner, QString &Name, std::vector<TTagAction> &Actions,
                            const TFrmPresetActionsEditor::TNameCheck &NameCheck) {
    return TFrmPresetActionsEditor::ExecuteEditor(Owner, Name, Actions, NameCheck, FPrompts);
  };
  setObjectName(QStringLiteral("frmPresetEditor"));
  setWindowTitle(Translate("Preset Editor"));
  resize(600, 380);

  lb = new QListWidget(this);
  lb->setObjectName(QStringLiteral("lb"));
  auto *right = new QWidget(this);
  right->setFixedWidth(200);
  chkDefault = new QCheckBox(Translate("Default (button click)"), right);
  chkDefault->setObjectName(QStringLiteral("chkDefault"));
  chkDefault->setGeometry(10, 12, 180, 20);
  btnAdd = PanelButton("Add...", "btnAdd", right, 60);
  btnEdit = PanelButton("Edit...", "btnEdit", right, 94);
  btnDelete = PanelButton("Delete", "btnDelete", right, 128);
  btnClose = PanelButton("Close", "btnClose", right, 300);

  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(lb);
  layout->addWidget(right);

  connect(lb, &QListWidget::currentRowChanged, this, [this] { lbClick(); });
  connect(chkDefault, &QCheckBox::clicked, this, &TFrmPresetEditor::chkDefaultClick);
  connect(btnAdd, &QPushButton::clicked, this, &TFrmPresetEditor::btnAddClick);
  connect(btnEdit, &QPushButton::clicked, this, &TFrmPresetEditor::btnEditClick);
  connect(btnDelete, &QPushButton::clicked, this, &TFrmPresetEditor::btnDeleteClick);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

  FillList();
}

TFrmPresetEditor::~TFrmPresetEditor() = default;

void TFrmPresetEditor::showEvent(QShowEvent *Event)
{
  QDialog::showEvent(Event);
  CentreOnScreen(*this);
}

bool TFrmPresetEditor::ExecuteEditor(QWidget *AOwner, TActionPresetStore &AStore, IPrompts *Prompts)
{
  TFrmPresetEditor dialog(AOwner, AStore, Prompts);
  dialog.exec();
  return true;
}

void TFrmPresetEditor::FillList()
{
  const QSignalBlocker quiet(lb);
  lb->clear();
  int selected = FStore.PresetCount() > 0 ? 0 : -1;
  for (int i = FStore.PresetCount() - 1; i >= 0; --i)
    if (SameName(FStore.PresetByIndex(i).Name, FStore.LastPresetName())) selected = i;
  for (int i = 0; i < FStore.PresetCount(); ++i) lb->addItem(FStore.PresetByIndex(i).Name);
  lb->setCurrentRow(selected);
  UpdateCheckBox();
}

QString TFrmPresetEditor::SelectedName() const
{
  const int row = lb->currentRow();
  return row >= 0 && row < FStore.PresetCount() ? FStore.PresetByIndex(row).Name : QString();
}

void TFrmPresetEditor::UpdateCheckBox()
{
  const int row = lb->currentRow();
  chkDefault->setChecked(row >= 0 && row < FStore.PresetCount() &&
                         SameName(FStore.PresetByIndex(row).Name, FStore.LastPresetName()));
}

void TFrmPresetEditor::SelectByName(const QString &Name)
{
  for (int i = 0; i < FStore.PresetCount(); ++i) {
    if (SameName(FStore.PresetByIndex(i).Name, Name)) {
      const QSignalBlocker quiet(lb);
      lb->setCurrentRow(i);
      break;
    }
  }
  UpdateCheckBox();
}

void TFrmPresetEditor::SaveStore()
{
  if (!FStore.Save()) FPrompts->Error(FStore.LastError());
}

void TFrmPresetEditor::lbClick() { UpdateCheckBox(); }

void TFrmPresetEditor::chkDefaultClick(bool Checked)
{
  const QString name = SelectedName();
  if (Checked && !name.isEmpty()) {
    FStore.SetLastPresetName(name);
    SaveStore();
  }
  UpdateCheckBox();
}

TFrmPresetActionsEditor::TNameCheck TFrmPresetEditor::NameCheckFor(const QString &OldName) const
{
  return [this, OldName](const QString &Name) {
    if (!OldName.isEmpty() && SameName(Name, OldName)) return QString();
    return FStore.FindByName(Name) ? Translate("A preset with this name already exists.") : QString();
  };
}

void TFrmPresetEditor::btnAddClick()
{
  QString name = Translate("New Preset");
  std::vector<TTagAction> actions;
  const auto check = NameCheckFor(QString());
  if (!EditPresetDialog(this, name, actions, check)) return;
  // The dialog checked the name already; a dialog that did not must not add a second one.
  if (const QString refusal = check(name); !refusal.isEmpty()) {
    FPrompts->Warning(refusal);
    return;
  }
  auto preset = std::make_unique<TActionPreset>();
  preset->Name = name;
  preset->Actions = std::move(actions);
  FStore.AddPreset(std::move(preset));
  SaveStore();
  FillList();
  SelectByName(name);
}

void TFrmPresetEditor::btnEditClick()
{
  const int row = lb->currentRow();
  if (row < 0 || row >= FStore.PresetCount()) return;
  const QString oldName = FStore.PresetByIndex(row).Name;
  QString name = oldName;
  std::vector<TTagAction> actions = FStore.PresetByIndex(row).Actions;
  const auto check = NameCheckFor(oldName);
  if (!EditPresetDialog(this, name, actions, check)) return;
  if (const QString refusal = check(name); !refusal.isEmpty()) {
    FPrompts->Warning(refusal);
    return;
  }
  TActionPreset &preset = FStore.PresetByIndex(row);
  preset.Name = name;
  preset.Actions = std::move(actions);
  if (SameName(FStore.LastPresetName(), oldName)) FStore.SetLastPresetName(name);
  SaveStore();
  FillList();
  const QSignalBlocker quiet(lb);
  lb->setCurrentRow(row);
  UpdateCheckBox();
}

void TFrmPresetEditor::btnDeleteClick()
{
  const int row = lb->currentRow();
  if (row < 0 || row >= FStore.PresetCount()) return;
  const QString name = FStore.PresetByIndex(row).Name;
  if (!FPrompts->Confirm(TranslateFormat("Delete preset \"%s\"?", name))) return;
  const bool wasDefault = SameName(FStore.LastPresetName(), name);
  FStore.DeletePresetByIndex(row);
  if (FStore.PresetCount() == 0) {
    FStore.CreateDefaultPresets();
  } else if (wasDefault) {
    FStore.SetLastPresetName(FStore.PresetByIndex(0).Name);
  }
  SaveStore();
  FillList();
}
