// The page of a picture category: the pictures as a grid of thumbnails, or as the
// list with group, date, size and deleted columns, one click apart. Both show the
// same model with one selection; the detail pane shows the selected picture. The
// thumbnails are made off the window's thread, for the cells being painted only.
#pragma once

#include "quarry/pages/category_page.h"
#include "quarry/views/media_model.h"

class QLabel;
class QListView;
class QStackedWidget;

namespace quarry {

class CThumbnailLoader;

class CMediaGridPage : public CCategoryPage {
  Q_OBJECT

 public:
  // `model` and `items` are the same object (a media model); not owned.
  CMediaGridPage(views::CategoryModel* model, const views::MediaItems* items, QWidget* parent = nullptr);
  ~CMediaGridPage() override;

  QListView* Grid() const { return grid_; }
  CThumbnailLoader* Loader() const { return loader_; }
  void ShowGrid(bool grid);

 protected:
  void ShowDetail(qsizetype item) override;

 private:
  void UpdatePreview();

  const views::MediaItems* items_;
  CThumbnailLoader* loader_ = nullptr;
  QListView* grid_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QLabel* preview_ = nullptr;
  qsizetype shown_ = -1;
};

}  // namespace quarry
