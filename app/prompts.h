#pragma once
// IPrompts: every modal question the editor asks, in one place. The window answers it with the
// platform's dialogs; tests answer it from a script and read what was asked. Texts arrive
// already translated and filled in.

#include <QString>
#include <QStringList>

enum TMessageKind { mkInformation, mkWarning, mkError, mkConfirmation };

class IPrompts {
public:
  virtual ~IPrompts() = default;
  // A message box. Information, warning and error boxes have an OK button and give true;
  // a confirmation has Yes and No and gives true for Yes.
  virtual bool MessageBox(TMessageKind Kind, const QString &Text) = 0;
  // A confirmation with Yes and No whose default button (the one Enter presses) is No, for a
  // step that cannot be taken back; true for Yes. A stand-in that cannot show it may answer it
  // as the confirmation of MessageBox.
  virtual bool ConfirmDefaultNo(const QString &Text) { return MessageBox(mkConfirmation, Text); }
  // A warning with the buttons Buttons (texts as shown); Enter presses Buttons[Default], Escape
  // and closing the box give Escape. Gives the index of the button chosen. A stand-in that cannot
  // show it answers Default, as Enter would.
  virtual int Choose(const QString & /*Text*/, const QStringList & /*Buttons*/, int Default, int /*Escape*/)
  {
    return Default;
  }
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
