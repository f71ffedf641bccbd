// The page every category view is made of: the category's list with a check box
// per row, deleted items in red with the deleted marker, a line that says why the
// list is empty, an optional detail pane for the selected item, and the recovery
// of the checked items through the model's snapshot. A view that needs more (a
// portrait, a conversation, a picture grid) specialises it.
//
// The page owns no items: the checks live on the model's items, so a filter or a
// search never loses one. Check changes made on this page reach the main window as
// PageBus::selectionChanged(countDelta, sizeDelta), forwarded from the model's
// SelectionChanged. Found items are NOT forwarded: whoever feeds the model counts
// them from CategoryModel::ItemsFound, so nothing is counted twice.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

#include "quarry/pages/function_dlg.h"
#include "quarry/views/category_model.h"
#include "quarry/views/export_files.h"

class QFormLayout;
class QLabel;
class QSplitter;
class QTableView;
class QVBoxLayout;

namespace quarry {

class CCategoryPage : public CFunctionDlg {
  Q_OBJECT

 public:
  enum class Detail { None, Pane };

  // `model` is not owned and must outlive the page.
  explicit CCategoryPage(views::CategoryModel* model, Detail detail = Detail::Pane, QWidget* parent = nullptr);
  ~CCategoryPage() override;

  // Writes the checked items (every one, shown or hidden by a filter) below `folder`
  // into the category's own folder. Gives up between files once cancelFlag is set;
  // whoever starts a recovery clears that flag first. The outcome is kept for LastReport().
  void RecoverTo(const QString& folder) override;
  void InitPage() override;
  void CheckAll(bool check) override;
  void InvertCheck() override;
  void ShowDeletedOnly(bool deletedOnlyFlag) override;
  void SearchText(const QString& text) override;

  views::CategoryModel* Model() const { return model_; }
  QTableView* Table() const { return table_; }
  // The detail pane's text for the selected item ("" when none).
  QString DetailText() const;
  const views::ExportReport& LastReport() const { return lastReport_; }
  // What the empty list says ("" while it has rows).
  QString EmptyText() const;
  // The icon drawn before the first cell of `row` (the deleted marker or none).
  QIcon RowIcon(int row) const;
  // The deleted marker of the lists (our own artwork in the resources).
  static QIcon DeletedIcon();
  // `value` with a chance to break after every few characters of a long word, so that
  // a label wraps an address or an identifier instead of growing past its pane.
  static QString Breakable(const QString& value);

 protected:
  // Shows `item` (-1 for none) in the detail pane: its first cell as the title and
  // the model's detail lines. Views with more to show override it.
  virtual void ShowDetail(qsizetype item);
  void SetDetailTitle(const QString& title);
  void SetDetailRows(const views::DetailRows& rows);
  // The pane's layout, above the rows, for a view's own widgets (a picture).
  QVBoxLayout* DetailHead() const { return detailHead_; }
  // Replaces the list's widget in the page (a picture grid instead of the table);
  // the table stays the page's model view for filters and tests.
  void SetListWidget(QWidget* widget);

 private:
  void UpdateEmptyText();

  views::CategoryModel* model_;
  QTableView* table_ = nullptr;
  QSplitter* split_ = nullptr;
  QLabel* empty_ = nullptr;
  QWidget* pane_ = nullptr;
  QLabel* detailTitle_ = nullptr;
  QVBoxLayout* detailHead_ = nullptr;
  QWidget* detailGrid_ = nullptr;
  QFormLayout* detailRows_ = nullptr;
  QStringList detailLines_;  // "caption: value", as DetailText gives them
  views::ExportReport lastReport_;
};

}  // namespace quarry
