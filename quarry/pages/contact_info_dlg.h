// The contacts page of the results window: the contacts list with a check box
// per row, deleted contacts in red with the deleted marker, a detail pane for
// the selected contact, and the recovery of the checked contacts as HTML, CSV
// and vCard files.
//
// The page owns no items: the checks live on the items of the model, so a
// filter or a search never loses one. Check changes made on this page (a click
// on a box, CheckAll, InvertCheck) reach the main window as
// PageBus::selectionChanged(countDelta, sizeDelta), forwarded from the model's
// SelectionChanged. Found items are NOT forwarded: whoever feeds the model
// counts them from ContactsModel::ItemFound, so nothing is counted twice.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <utility>

#include "quarry/pages/function_dlg.h"
#include "quarry/views/contacts_model.h"
#include "quarry/views/export_files.h"

class QFormLayout;
class QLabel;
class QTableView;

namespace quarry {

class CContactInfoDlg : public CFunctionDlg {
  Q_OBJECT

 public:
  // `model` is not owned and must outlive the page.
  explicit CContactInfoDlg(views::ContactsModel* model, QWidget* parent = nullptr);
  ~CContactInfoDlg() override;

  // Writes the checked contacts (every one, shown or hidden by a filter) below
  // `folder` into the category's own folder. Gives up between files once
  // cancelFlag is set; whoever starts a recovery clears that flag first. The
  // outcome is kept for LastReport().
  void RecoverTo(const QString& folder) override;
  void InitPage() override;
  void CheckAll(bool check) override;
  void InvertCheck() override;
  void ShowDeletedOnly(bool deletedOnlyFlag) override;
  void SearchText(const QString& text) override;

  views::ContactsModel* Model() const { return model_; }
  QTableView* Table() const { return table_; }
  // The detail pane's text for the selected contact ("" when none).
  QString DetailText() const;
  const views::ExportReport& LastReport() const { return lastReport_; }
  // What the empty list says ("" while it has rows).
  QString EmptyText() const;
  // The icon drawn before the name in `row` (the deleted marker or none).
  QIcon RowIcon(int row) const;
  // The deleted marker of the lists (our own artwork in the resources).
  static QIcon DeletedIcon();

 private:
  void ShowDetail(qsizetype item);
  void SetDetailRows(const QList<std::pair<QString, QString>>& rows);
  void UpdateEmptyText();

  views::ContactsModel* model_;
  QTableView* table_ = nullptr;
  QLabel* empty_ = nullptr;
  QLabel* detailTitle_ = nullptr;
  QLabel* detailPicture_ = nullptr;
  QWidget* detailGrid_ = nullptr;
  QFormLayout* detailRows_ = nullptr;
  QStringList detailLines_;  // "caption: value", as DetailText gives them
  views::ExportReport lastReport_;
};

}  // namespace quarry
