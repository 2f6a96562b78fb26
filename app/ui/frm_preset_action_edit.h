#pragma once
// The action dialog ("Edit Action"): edits one TTagAction. A fixed 420 x 240 dialog with the
// kind, the target field and, depending on the kind, the source field (copy) or the search
// and replacement texts (replace). OK is refused, with a warning and the dialog left open with
// what the user typed, while a replace action has a search text that is blank after trimming
// codes up to U+0020. Kind and field names are fixed English (they name actions, like the
// presets file does); every other text goes through Translate.

#include <QDialog>

#include <memory>

#include "app/prompts.h"
#include "app/quick_actions.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The kind list's positions, which differ from the TTagActionKind order.
constexpr TTagActionKind kActionKindListOrder[kTagActionKindCount] = {
  takTrimSpaces, takCollapseSpaces, takUpperCase, takLowerCase, takTitleCase, takReplaceText, takCopyField,
};
// "Trim spaces", "Upper case", ... and "Title", "Artist", ...: the texts that describe actions.
QString ActionKindText(TTagActionKind Kind);
QString ActionFieldText(TTagField Field);

// Shows the controls that the chosen kind uses: the source field for "Copy field", the search
// and replacement texts for "Replace text". Lives as long as its dialog.
struct TActionEditVisibilityHelper {
  QComboBox *cbKind = nullptr;
  QLabel *lblSource = nullptr;
  QComboBox *cbSource = nullptr;
  QLabel *lblSearch = nullptr;
  QLineEdit *edtSearch = nullptr;
  QLabel *lblReplace = nullptr;
  QLineEdit *edtReplace = nullptr;

  void UpdateVisibility();
  void KindChange() { UpdateVisibility(); }
};

class TFrmPresetActionEdit : public QDialog {
  Q_OBJECT
public:
  // Prompts answers the warning; null uses the platform's message boxes over this dialog.
  TFrmPresetActionEdit(QWidget *AOwner, const TTagAction &Action, IPrompts *Prompts = nullptr);
  ~TFrmPresetActionEdit() override;

  // The action as the controls describe it now.
  TTagAction CurrentAction() const;
  // OK: accepts unless the action is refused (then warns and stays open).
  void btnOKClick();

  QComboBox *cbKind = nullptr;
  QComboBox *cbTarget = nullptr;
  QLabel *lblSource = nullptr;
  QComboBox *cbSource = nullptr;
  QLabel *lblSearch = nullptr;
  QLineEdit *edtSearch = nullptr;
  QLabel *lblReplace = nullptr;
  QLineEdit *edtReplace = nullptr;
  QPushButton *btnOK = nullptr;
  QPushButton *btnCancel = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;

private:
  TActionEditVisibilityHelper FHelper;
  std::unique_ptr<IPrompts> FOwnPrompts;
  IPrompts *FPrompts = nullptr;
};

// Shows the action dialog modally on Action; true, with Action updated, when the user
// confirmed a valid action; false (Action unchanged) when cancelled.
bool EditAction(QWidget *AOwner, TTagAction &Action, IPrompts *Prompts = nullptr);

// Moves a dialog to the centre of its screen.
void CentreOnScreen(QWidget &Dialog);
