#pragma once
// IPrompts: every modal question the editor asks, in one place. The window answers it with the
// platform's dialogs; tests answer it from a script and read what was asked. Texts arrive
// already translated and filled in.

#include <QString>

enum TMessageKind { mkInformation, mkWarning, mkError, mkConfirmation };

class IPrompts {
public:
  virtual ~IPrompts() = default;
  // A message box. Information, warning and error boxes have an OK button and give true;
  // a confirmation has Yes and No and gives true for Yes.
  virtual bool MessageBox(TMessageKind Kind, const QString &Text) = 0;
  // An input box prefilled with Value; false when cancelled, else Value holds the answer.
  virtual bool InputBox(const QString &Title, const QString &Prompt, QString &Value) = 0;
  // A folder picker; false when cancelled, else Folder holds the chosen folder.
  virtual bool PickFolder(const QString &Title, QString &Folder) = 0;
  // An open-file dialog; Filter is "Description|*.a;*.b" pairs joined by "|". False when
  // cancelled, else FileName holds the chosen file.
  virtual bool OpenFileDialog(const QString &Title, const QString &Filter, QString &FileName) = 0;

  void Information(const QString &Text) { MessageBox(mkInformation, Text); }
  void Warning(const QString &Text) { MessageBox(mkWarning, Text); }
  void Error(const QString &Text) { MessageBox(mkError, Text); }
  bool Confirm(const QString &Text) { return MessageBox(mkConfirmation, Text); }
};
