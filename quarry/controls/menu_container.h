// The results page's category list: group captions and entries, each entry
// with a check icon, a caption followed by its count "(n)", a selected look
// and an enabled state. A click on the icon toggles the entry's check; any
// click selects the entry, unselects the others and reports (id, checked).
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QVBoxLayout;

namespace quarry {

class CMenuItemEx : public QWidget {
  Q_OBJECT

 public:
  CMenuItemEx(const QString& iconPath, const QString& caption, int id, QWidget* parent = nullptr);

  int id() const { return id_; }
  QString caption() const { return caption_; }
  void setCaption(const QString& caption);
  qint64 count() const { return count_; }
  void setCount(qint64 count);
  bool isChecked() const { return checkState_ == Qt::Checked; }
  void setChecked(bool checked) { setCheckState(checked ? Qt::Checked : Qt::Unchecked); }
  // Partly checked: some of the category's items are checked, not all.
  Qt::CheckState checkState() const { return checkState_; }
  void setCheckState(Qt::CheckState state);
  // A remark after the count, such as why nothing was found ("" for none).
  QString note() const { return note_; }
  void setNote(const QString& note);
  bool isSelected() const { return selected_; }
  void setSelected(bool selected);
  // The text drawn beside the icon: caption, "(count)" and the note.
  QString DisplayText() const;
  // Where the check icon is drawn; a release inside it toggles the check.
  QRect IconRect() const;

  QSize sizeHint() const override;

 signals:
  void clicked(int id, bool checked);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString iconPath_;
  QString caption_;
  int id_;
  qint64 count_ = 0;
  Qt::CheckState checkState_ = Qt::Unchecked;
  QString note_;
  bool selected_ = false;
};

class CMenuContainer : public QWidget {
  Q_OBJECT

 public:
  explicit CMenuContainer(QWidget* parent = nullptr);

  void AddGroup(const QString& caption);
  // A new entry is disabled, count 0, not checked, not selected.
  CMenuItemEx* AddEntry(const QString& iconPath, const QString& caption, int id);
  // Every entry: count 0, not checked (selection and enabled state stay).
  void ResetAll();
  void DisableAll();
  void Enable(int id);
  void AddCount(int id, qint64 added);
  void AddOne(int id) { AddCount(id, 1); }
  bool IsChecked(int id) const;
  void SetChecked(int id);
  // Selects this entry and unselects every other one.
  void Select(int id);
  // The first entry, in list order, whose selected mark is set; 0 when none.
  int CurrentId() const;
  CMenuItemEx* Entry(int id) const;
  QList<CMenuItemEx*> Entries() const { return entries_; }

 signals:
  // An entry was clicked: show its category and apply its check to every item.
  void entryClicked(int id, bool checked);

 private:
  QVBoxLayout* layout_;
  QList<CMenuItemEx*> entries_;
};

}  // namespace quarry
