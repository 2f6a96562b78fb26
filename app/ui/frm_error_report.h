#pragma once
// TFrmErrorReport: the modal list of failed saves, "Tag Writing Errors": one row per file with
// the tag service's message, a Copy button that puts the rows on the clipboard (path, tab,
// message, CR LF per row) and Close. Its texts are fixed English, like the service's messages.

#include <QDialog>

#include <vector>

#include "app/editor_view.h"

class QPushButton;
class QTreeWidget;

class TFrmErrorReport : public QDialog {
  Q_OBJECT
public:
  explicit TFrmErrorReport(QWidget *Owner = nullptr);

  void LoadErrors(const std::vector<TErrorItem> &Errors);
  // The clipboard text of the rows; empty when there are none.
  QString ErrorsText() const;

  QTreeWidget *lvErrors = nullptr;
  QPushButton *btnCopy = nullptr;
  QPushButton *btnClose = nullptr;

private:
  void btnCopyClick();
};

// Creates the window, fills it, shows it modally and frees it.
void ShowErrorReport(const std::vector<TErrorItem> &Errors, QWidget *Owner);
