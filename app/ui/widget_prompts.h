#pragma once
// TWidgetPrompts: IPrompts answered with the platform's standard dialogs (QMessageBox,
// QInputDialog, QFileDialog), modal over the owner window. Texts may carry CR LF line breaks
// (the editor's message texts do); they are shown as line breaks.

#include <QPointer>
#include <QWidget>

#include "app/prompts.h"

class TWidgetPrompts : public IPrompts {
public:
  explicit TWidgetPrompts(QWidget *Owner) : FOwner(Owner) {}

  bool MessageBox(TMessageKind Kind, const QString &Text) override;
  bool ConfirmDefaultNo(const QString &Text) override;
  int Choose(const QString &Text, const QStringList &Buttons, int Default, int Escape) override;
  bool InputBox(const QString &Title, const QString &Prompt, QString &Value) override;
  bool PickFolder(const QString &Title, QString &Folder) override;
  bool OpenFileDialog(const QString &Title, const QString &Filter, QString &FileName) override;

  // "Images|*.jpg;*.png|All|*" -> "Images (*.jpg *.png);;All (*)".
  static QString QtFileFilter(const QString &Filter);

private:
  QPointer<QWidget> FOwner;
};
