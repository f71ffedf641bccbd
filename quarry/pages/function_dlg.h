// Pages: every screen below the main window's title area is a CFunctionDlg
// held by a CFunctionDlgContainer and addressed by its page id.
#pragma once

#include <QString>
#include <QWidget>
#include <atomic>

class QStackedWidget;

namespace quarry {

class CFunctionDlg : public QWidget {
  Q_OBJECT

 public:
  explicit CFunctionDlg(QWidget* parent = nullptr);
  ~CFunctionDlg() override;

  // Writes the page's checked items below folder; the base writes nothing.
  virtual void RecoverTo(const QString& folder);
  // Called when the container shows the page. The base shows the page, hides
  // its own child pages with a non-zero id and shows those with id 0.
  virtual void OnShowPage();
  // Builds the page's controls; called once by AddPage.
  virtual void InitPage();
  virtual void CheckAll(bool check);
  virtual void InvertCheck();
  virtual void ShowDeletedOnly(bool deletedOnlyFlag);
  // Shows only the items matching text; an empty text shows all.
  virtual void SearchText(const QString& text);

  // What the "deleted only" switch does for every page: remember, then apply.
  void ApplyDeletedOnly(bool flag);

  std::atomic<bool> cancelFlag{false};  // makes a running RecoverTo give up
  int pageId = 0;                       // 0 until added to a container
  bool deletedOnly = false;             // last value of ApplyDeletedOnly
};

class CFunctionDlgContainer : public QWidget {
  Q_OBJECT

 public:
  explicit CFunctionDlgContainer(QWidget* parent = nullptr);
  // Destroys the pages last-added first: a later page may use what an earlier
  // one owns (the results page scans the reader the backup list holds).
  ~CFunctionDlgContainer() override;

  // Takes ownership of page, files it under pageId and calls its InitPage.
  void AddPage(CFunctionDlg* page, int pageId);
  // Shows the page with this id; an unknown id hides every page and the
  // container itself.
  void ShowPage(int pageId);
  CFunctionDlg* Page(int pageId) const;
  int currentPageId() const { return currentPageId_; }
  QList<CFunctionDlg*> Pages() const;

 signals:
  void pageShown(int pageId);

 private:
  QStackedWidget* stack_;
  int currentPageId_ = 0;
};

}  // namespace quarry
