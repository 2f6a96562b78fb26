#include "app/ui/frm_preset_actions_editor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/localization.h"
#include "app/ui/frm_preset_action_edit.h"
#include "app/ui/widget_prompts.h"
#include "tags/text/text.h"

QString ActionLineText(const TTagAction &Action)
{
  QString line = ActionKindText(Action.Kind) + QStringLiteral(" -> ") + ActionFieldText(Action.TargetField);
  if (Action.Kind == takCopyField) line += QStringLiteral(" (from ") + ActionFieldText(Action.SourceField) + QLatin1Char(')');
  if (Action.Kind == takReplaceText)
    line += QStringLiteral(" (\"") + Action.SearchText + QStringLiteral("\" => \"") + Action.ReplaceText +
            QStringLiteral("\")");
  return line;
}

namespace {

QPushButton *PanelButton(const char *Text, const char *Name, QWidget *Panel, int Top)
{
  auto *button = new QPushButton(Translate(Text), Panel);
  button->setObjectName(QString::fromLatin1(Name));
  button->setGeometry(10, Top, 150, 28);
  return button;
}

}  // namespace

TFrmPresetActionsEditor::TFrmPresetActionsEditor(QWidget *AOwner, const QString &PresetName,
                                                 const std::vector<TTagAction> &Actions, TNameCheck NameCheck,
                                                 IPrompts *Prompts)
    : QDialog(AOwner), FActions(Actions), FNameCheck(std::move(NameCheck))
{
  if (!Prompts) FOwnPrompts = std::make_unique<TWidgetPrompts>(this);
  FPrompts = Prompts ? Prompts : FOwnPrompts.get();
  EditActionDialog = [this](QWidget *Owner, TTagAction &Action) { return EditAction(Owner, Action, FPrompts); };
  setObjectName(QStringLiteral("frmPresetActionsEditor"));
  setWindowTitle(Translate("Preset Actions"));
  resize(720, 440);

  auto *top = new QWidget(this);
  top->setFixedHeight(44);
  lblName = new QLabel(Translate("Preset name:"), top);
  lblName->move(10, 14);
  edtName = new QLineEdit(PresetName, top);
  edtName->setObjectName(QStringLiteral("edtName"));
  edtName->setGeometry(90, 10, 520, 24);

  auto *right = new QWidget(this);
  right->setFixedWidth(170);
  btnAdd = PanelButton("Add...", "btnAdd", right, 12);
  btnEdit = PanelButton("Edit...", "btnEdit", right, 46);
  btnDelete = PanelButton("Delete", "btnDelete", right, 80);
  btnUp = PanelButton("Move up", "btnUp", right, 128);
  btnDown = PanelButton("Move down", "btnDown", right, 162);

  FBottomPanel = new QWidget(this);
  FBottomPanel->setFixedHeight(48);
  btnOK = new QPushButton(Translate("OK"), FBottomPanel);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnCancel = new QPushButton(Translate("Cancel"), FBottomPanel);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));

  lb = new QListWidget(this);
  lb->setObjectName(QStringLiteral("lb"));

  auto *middle = new QHBoxLayout;
  middle->setContentsMargins(0, 0, 0, 0);
  middle->setSpacing(0);
  middle->addWidget(lb);
  middle->addWidget(right);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(top);
  layout->addLayout(middle);
  layout->addWidget(FBottomPanel);

  connect(btnAdd, &QPushButton::clicked, this, &TFrmPresetActionsEditor::btnAddClick);
  connect(btnEdit, &QPushButton::clicked, this, &TFrmPresetActionsEditor::btnEditClick);
  connect(btnDelete, &QPushButton::clicked, this, &TFrmPresetActionsEditor::btnDeleteClick);
  connect(btnUp, &QPushButton::clicked, this, &TFrmPresetActionsEditor::btnUpClick);
  connect(btnDown, &QPushButton::clicked, this, &TFrmPresetActionsEditor::btnDownClick);
  connect(btnOK, &QPushButton::clicked, this, &TFrmPresetActionsEditor::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  FillList(FActions.empty() ? -1 : 0);
}

TFrmPresetActionsEditor::~TFrmPresetActionsEditor() = default;

void TFrmPresetActionsEditor::resizeEvent(QResizeEvent *Event)
{
  QDialog::resizeEvent(Event);
  // OK and Cancel stay at the right edge.
  const int width = FBottomPanel->width() > 0 ? FBottomPanel->width() : this->width();
  btnOK->setGeometry(width - 180, 10, 75, 28);
  btnCancel->setGeometry(width - 95, 10, 75, 28);
}

void TFrmPresetActionsEditor::showEvent(QShowEvent *Event)
{
  QDialog::showEvent(Event);
  CentreOnScreen(*this);
}

QString TFrmPresetActionsEditor::TrimmedName() const
{
  return QString::fromStdString(TrimBlanks(edtName->text().toStdString()));
}

void TFrmPresetActionsEditor::FillList(int Selected)
{
  lb->clear();
  for (const TTagAction &action : FActions) lb->addItem(ActionLineText(action));
  if (Selected >= 0 && Selected < lb->count()) lb->setCurrentRow(Selected);
}

void TFrmPresetActionsEditor::btnAddClick()
{
  TTagAction action;
  if (!EditActionDialog(this, action)) return;
  FActions.push_back(action);
  FillList(static_cast<int>(FActions.size()) - 1);
}

void TFrmPresetActionsEditor::btnEditClick()
{
  const int row = lb->currentRow();
  if (row < 0 || row >= static_cast<int>(FActions.size())) return;
  TTagAction action = FActions[static_cast<std::size_t>(row)];
  if (!EditActionDialog(this, action)) return;
  FActions[static_cast<std::size_t>(row)] = action;
  FillList(row);
}

void TFrmPresetActionsEditor::btnDeleteClick()
{
  const int row = lb->currentRow();
  if (row < 0 || row >= static_cast<int>(FActions.size())) return;
  if (!FPrompts->Confirm(Translate("Delete selected action?"))) return;
  FActions.erase(FActions.begin() + row);
  FillList(std::min(row, static_cast<int>(FActions.size()) - 1));
}

void TFrmPresetActionsEditor::SwapWith(int Offset)
{
  const int row = lb->currentRow();
  const int other = row + Offset;
  if (row < 0 || other < 0 || other >= static_cast<int>(FActions.size())) return;
  std::swap(FActions[static_cast<std::size_t>(row)], FActions[static_cast<std::size_t>(other)]);
  FillList(other);
}

void TFrmPresetActionsEditor::btnUpClick() { SwapWith(-1); }

void TFrmPresetActionsEditor::btnDownClick() { SwapWith(1); }

void TFrmPresetActionsEditor::btnOKClick()
{
  const QString name = TrimmedName();
  if (name.isEmpty()) {
    FPrompts->Warning(Translate("Preset name cannot be empty."));
    edtName->setFocus();
    return;
  }
  if (FNameCheck) {
    const QString refusal = FNameCheck(name);
    if (!refusal.isEmpty()) {
      FPrompts->Warning(refusal);
      edtName->setFocus();
      return;
    }
  }
  accept();
}

bool TFrmPresetActionsEditor::ExecuteEditor(QWidget *AOwner, QString &PresetName, std::vector<TTagAction> &Actions,
                                            TNameCheck NameCheck, IPrompts *Prompts)
{
  TFrmPresetActionsEditor dialog(AOwner, PresetName, Actions, std::move(NameCheck), Prompts);
  if (dialog.exec() != QDialog::Accepted) return false;
  PresetName = dialog.TrimmedName();
  Actions = dialog.Actions();
  return true;
}
