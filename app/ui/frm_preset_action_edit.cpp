#include "app/ui/frm_preset_action_edit.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/localization.h"
#include "app/ui/widget_prompts.h"
#include "tags/text/text.h"

QString ActionKindText(TTagActionKind Kind)
{
  switch (Kind) {
  case takTrimSpaces: return QStringLiteral("Trim spaces");
  case takUpperCase: return QStringLiteral("Upper case");
  case takLowerCase: return QStringLiteral("Lower case");
  case takTitleCase: return QStringLiteral("Title case");
  case takReplaceText: return QStringLiteral("Replace text");
  case takCopyField: return QStringLiteral("Copy field");
  case takCollapseSpaces: return QStringLiteral("Collapse spaces");
  }
  return QString();
}

// The dialog shows a field under the name the presets file gives it.
QString ActionFieldText(TTagField Field) { return TagFieldName(Field); }

void CentreOnScreen(QWidget &Dialog)
{
  const QScreen *screen = Dialog.screen() ? Dialog.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = Dialog.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  Dialog.move(frame.topLeft());
}

namespace {

int KindListPosition(TTagActionKind Kind)
{
  for (int i = 0; i < kTagActionKindCount; ++i)
    if (kActionKindListOrder[i] == Kind) return i;
  return 0;
}

QComboBox *FieldBox(QWidget *Parent)
{
  auto *box = new QComboBox(Parent);
  for (int f = 0; f < kTagFieldCount; ++f) box->addItem(ActionFieldText(static_cast<TTagField>(f)));
  return box;
}

TTagField FieldOfBox(const QComboBox *Box)
{
  const int index = Box->currentIndex();
  return index >= 0 && index < kTagFieldCount ? static_cast<TTagField>(index) : tfTitle;
}

QLabel *Label(const char *Text, QWidget *Parent, int Left, int Top, int Width, int Height)
{
  auto *label = new QLabel(Translate(Text), Parent);
  label->setGeometry(Left, Top, Width, Height);
  return label;
}

}  // namespace

void TActionEditVisibilityHelper::UpdateVisibility()
{
  const int position = cbKind->currentIndex();
  const TTagActionKind kind = position >= 0 && position < kTagActionKindCount ? kActionKindListOrder[position]
                                                                              : takTrimSpaces;
  const bool copy = kind == takCopyField;
  const bool replace = kind == takReplaceText;
  lblSource->setVisible(copy);
  cbSource->setVisible(copy);
  lblSearch->setVisible(replace);
  edtSearch->setVisible(replace);
  lblReplace->setVisible(replace);
  edtReplace->setVisible(replace);
}

TFrmPresetActionEdit::TFrmPresetActionEdit(QWidget *AOwner, const TTagAction &Action, IPrompts *Prompts)
    : QDialog(AOwner)
{
  if (!Prompts) FOwnPrompts = std::make_unique<TWidgetPrompts>(this);
  FPrompts = Prompts ? Prompts : FOwnPrompts.get();
  setObjectName(QStringLiteral("frmPresetActionEdit"));
  setWindowTitle(Translate("Edit Action"));
  setFixedSize(420, 240);

  cbKind = new QComboBox(this);
  cbKind->setObjectName(QStringLiteral("cbKind"));
  for (TTagActionKind kind : kActionKindListOrder) cbKind->addItem(ActionKindText(kind));
  cbKind->setGeometry(12, 12, 396, 24);
  cbTarget = FieldBox(this);
  cbTarget->setObjectName(QStringLiteral("cbTarget"));
  cbTarget->setGeometry(12, 48, 396, 24);
  lblSource = Label("Source field:", this, 12, 84, 120, 18);
  cbSource = FieldBox(this);
  cbSource->setObjectName(QStringLiteral("cbSource"));
  cbSource->setGeometry(120, 80, 288, 24);
  lblSearch = Label("Search:", this, 12, 116, 80, 18);
  edtSearch = new QLineEdit(Action.SearchText, this);
  edtSearch->setObjectName(QStringLiteral("edtSearch"));
  edtSearch->setGeometry(120, 112, 288, 24);
  lblReplace = Label("Replace:", this, 12, 148, 80, 18);
  edtReplace = new QLineEdit(Action.ReplaceText, this);
  edtReplace->setObjectName(QStringLiteral("edtReplace"));
  edtReplace->setGeometry(120, 144, 288, 24);
  btnOK = new QPushButton(Translate("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(248, 192, 75, 28);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(Translate("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(333, 192, 75, 28);

  cbKind->setCurrentIndex(KindListPosition(Action.Kind));
  cbTarget->setCurrentIndex(static_cast<int>(Action.TargetField) < kTagFieldCount ? Action.TargetField : 0);
  cbSource->setCurrentIndex(static_cast<int>(Action.SourceField) < kTagFieldCount ? Action.SourceField : 0);

  FHelper = TActionEditVisibilityHelper{cbKind, lblSource, cbSource, lblSearch, edtSearch, lblReplace, edtReplace};
  FHelper.UpdateVisibility();
  connect(cbKind, &QComboBox::currentIndexChanged, this, [this] { FHelper.KindChange(); });
  connect(btnOK, &QPushButton::clicked, this, &TFrmPresetActionEdit::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFrmPresetActionEdit::~TFrmPresetActionEdit() = default;

void TFrmPresetActionEdit::showEvent(QShowEvent *Event)
{
  QDialog::showEvent(Event);
  CentreOnScreen(*this);
}

TTagAction TFrmPresetActionEdit::CurrentAction() const
{
  TTagAction action;
  const int position = cbKind->currentIndex();
  action.Kind = position >= 0 && position < kTagActionKindCount ? kActionKindListOrder[position] : takTrimSpaces;
  action.TargetField = FieldOfBox(cbTarget);
  action.SourceField = action.Kind == takCopyField ? FieldOfBox(cbSource) : tfTitle;
  if (action.Kind == takReplaceText) {
    action.SearchText = edtSearch->text();
    action.ReplaceText = edtReplace->text();
  }
  return action;
}

void TFrmPresetActionEdit::btnOKClick()
{
  const TTagAction action = CurrentAction();
  if (action.Kind == takReplaceText && TrimBlanks(action.SearchText.toStdString()).empty()) {
    FPrompts->Warning(Translate("Search text cannot be empty for \"Replace text\"."));
    edtSearch->setFocus();
    return;
  }
  accept();
}

bool EditAction(QWidget *AOwner, TTagAction &Action, IPrompts *Prompts)
{
  TFrmPresetActionEdit dialog(AOwner, Action, Prompts);
  if (dialog.exec() != QDialog::Accepted) return false;
  Action = dialog.CurrentAction();
  return true;
}
