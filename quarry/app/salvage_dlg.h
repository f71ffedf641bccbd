// The main window: its own title area with the title and top buttons, and
// below it the container of every page, switched by page id.
#pragma once

#include <QDialog>
#include <QHash>
#include <functional>

namespace quarry::views {
class DeviceFlow;
}

class QMenu;
class QLabel;
class QTimer;

namespace quarry {

class CFunctionDlg;
class CFunctionDlgContainer;
class CImageButton;
class PageBus;

class CSalvageDlg : public QDialog {
  Q_OBJECT

 public:
  // Logical size of the window at start; Qt scales it with the screen. It
  // can be resized down to the minimum and maximised.
  static constexpr int kWidth = 929;
  static constexpr int kHeight = 687;
  static constexpr int kMinWidth = 820;
  static constexpr int kMinHeight = 600;

  explicit CSalvageDlg(QWidget* parent = nullptr);
  ~CSalvageDlg() override;

  PageBus* bus() const { return bus_; }
  CFunctionDlgContainer* pageContainer() const { return container_; }
  bool busy() const { return busy_; }
  int deviceState() const { return deviceState_; }
  CImageButton* topButton(int id) const { return topButtons_.value(id); }
  CImageButton* titleButton(int id) const { return titleButtons_.value(id); }
  QMenu* menu() const { return menu_; }
  views::DeviceFlow* deviceFlow() const { return deviceFlow_; }

  // Asks the user a yes/no question, and tells the user something (`warning`
  // for failures); replaceable so that tests can answer.
  std::function<bool(const QString& text)> askQuestion;
  std::function<void(const QString& text, bool warning)> tellUser;

  // Ids of the title and top buttons.
  static constexpr int kCloseButton = 100001;
  static constexpr int kMinimiseButton = 100002;
  static constexpr int kMaximiseButton = 100005;
  static constexpr int kMenuButton = 100003;
  static constexpr int kHomeButton = 100007;
  static constexpr int kDeviceButton = 100008;
  static constexpr int kFileButton = 100009;
  static constexpr int kDfuButton = 100016;

 public slots:
  void ShowPage(int pageId);
  void OnScanState(int state);
  void OnDeviceState(int state);
  void OpenOptions();
  void ShowHelp();
  void ShowAbout();
  // The device diagnostics, modal: why no phone shows up and what to do.
  void ShowDeviceDiagnostics();
  void ToggleMaximised();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildTitleArea(QWidget* area);
  void BuildPages();
  void BuildDevicePages();
  void AddPage(CFunctionDlg* page, int pageId);
  void TranslateMenu();
  void CheckForItunes();
  // The window edges under a point of the window (none when maximised).
  Qt::Edges EdgesAt(const QPoint& at) const;

  PageBus* bus_;
  CFunctionDlgContainer* container_ = nullptr;
  QMenu* menu_ = nullptr;
  QTimer* itunesTimer_ = nullptr;
  QHash<int, CImageButton*> topButtons_;
  QHash<int, CImageButton*> titleButtons_;
  bool busy_ = false;
  int deviceState_ = 0;
  QWidget* titleArea_ = nullptr;
  views::DeviceFlow* deviceFlow_ = nullptr;
};

}  // namespace quarry
