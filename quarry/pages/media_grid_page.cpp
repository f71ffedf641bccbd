#include "quarry/pages/media_grid_page.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QStackedWidget>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/thumbnail_loader.h"

namespace quarry {

namespace {

// Draws a cell of the grid: the thumbnail (asked for while the cell is painted, so
// only cells on screen cost anything), the check box and the name below; a deleted
// picture carries the deleted marker. A video is drawn by the thumbnail the device
// made of it; what has none gets the file icon.
class ThumbnailDelegate : public QStyledItemDelegate {
 public:
  ThumbnailDelegate(const views::MediaItems* items, CThumbnailLoader* loader, QObject* parent)
      : QStyledItemDelegate(parent), items_(items), loader_(loader) {}

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    // One size for all: the grid never measures its cells one by one.
    return {loader_->Side() + 24, loader_->Side() + 44};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (const views::MediaItem* item = ItemOf(index); item != nullptr && !item->PictureSource.empty()) {
      loader_->Thumbnail(item->PictureSource, item->PictureKey);
    }
    QStyledItemDelegate::paint(painter, option, index);
    if (index.data(views::CategoryModel::kDeletedRole).toBool()) {
      CCategoryPage::DeletedIcon().paint(painter, QRect(option.rect.topRight() - QPoint(20, -4), QSize(16, 16)));
    }
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(loader_->Side(), loader_->Side());
    option->decorationPosition = QStyleOptionViewItem::Top;
    option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
    option->textElideMode = Qt::ElideMiddle;
    option->icon = IconOf(index);
  }

 private:
  const views::MediaItem* ItemOf(const QModelIndex& index) const {
    const qlonglong item = index.data(views::CategoryModel::kItemRole).toLongLong();
    return index.isValid() ? &items_->MediaAt(item) : nullptr;
  }

  QIcon IconOf(const QModelIndex& index) const {
    const views::MediaItem* item = ItemOf(index);
    const QStyle* style = QApplication::style();
    if (item == nullptr || item->PictureSource.empty()) return style->standardIcon(QStyle::SP_FileIcon);
    const std::optional<QPixmap> made = loader_->Cached(item->PictureSource);
    if (!made) return {};  // being made: an empty frame until it comes
    if (made->isNull()) return style->standardIcon(QStyle::SP_MessageBoxWarning);  // unreadable picture
    return QIcon(*made);
  }

  const views::MediaItems* items_;
  CThumbnailLoader* loader_;
};

}  // namespace

CMediaGridPage::CMediaGridPage(views::CategoryModel* model, const views::MediaItems* items, QWidget* parent)
    : CCategoryPage(model, Detail::Pane, parent), items_(items) {
  loader_ = new CThumbnailLoader(items->MediaContext().files, 128, 600, this);

  grid_ = new QListView;
  grid_->setObjectName(QStringLiteral("mediaGrid"));
  grid_->setViewMode(QListView::IconMode);
  grid_->setModel(model);
  grid_->setModelColumn(0);
  // The table's selection: the detail pane follows either view.
  grid_->setSelectionModel(Table()->selectionModel());
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setUniformItemSizes(true);
  grid_->setMovement(QListView::Static);
  grid_->setResizeMode(QListView::Adjust);
  grid_->setLayoutMode(QListView::Batched);
  grid_->setGridSize(QSize(loader_->Side() + 32, loader_->Side() + 52));
  grid_->setItemDelegate(new ThumbnailDelegate(items, loader_, grid_));
  connect(loader_, &CThumbnailLoader::Ready, grid_->viewport(), qOverload<>(&QWidget::update));

  auto* gridButton = new QToolButton;
  gridButton->setObjectName(QStringLiteral("mediaShowGrid"));
  gridButton->setText(Translate(QStringLiteral("IDS_MEDIA_SHOW_GRID")));
  auto* listButton = new QToolButton;
  listButton->setObjectName(QStringLiteral("mediaShowList"));
  listButton->setText(Translate(QStringLiteral("IDS_MEDIA_SHOW_LIST")));
  for (QToolButton* button : {gridButton, listButton}) button->setCheckable(true);
  auto* buttons = new QButtonGroup(this);
  buttons->addButton(gridButton);
  buttons->addButton(listButton);
  gridButton->setChecked(true);
  connect(gridButton, &QToolButton::toggled, this, &CMediaGridPage::ShowGrid);

  auto* holder = new QWidget;
  // The share of the width the list had (the splitter keeps it in the size policy).
  holder->setSizePolicy(Table()->sizePolicy());
  auto* bar = new QHBoxLayout;
  bar->addWidget(gridButton);
  bar->addWidget(listButton);
  bar->addStretch(1);
  stack_ = new QStackedWidget;
  auto* layout = new QVBoxLayout(holder);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(bar);
  layout->addWidget(stack_, 1);
  SetListWidget(holder);
  stack_->addWidget(grid_);
  stack_->addWidget(Table());  // the list, with its columns and its empty-list text
  ShowGrid(true);

  preview_ = new QLabel;
  preview_->setObjectName(QStringLiteral("mediaPreview"));
  preview_->setAlignment(Qt::AlignCenter);
  DetailHead()->addWidget(preview_);
  connect(loader_, &CThumbnailLoader::Ready, this, &CMediaGridPage::UpdatePreview);
}

CMediaGridPage::~CMediaGridPage() = default;

void CMediaGridPage::ShowGrid(bool grid) {
  stack_->setCurrentWidget(grid ? static_cast<QWidget*>(grid_) : Table());
}

void CMediaGridPage::ShowDetail(qsizetype item) {
  CCategoryPage::ShowDetail(item);
  shown_ = item;
  UpdatePreview();
}

void CMediaGridPage::UpdatePreview() {
  if (preview_ == nullptr) return;
  QPixmap picture;
  if (shown_ >= 0 && shown_ < Model()->FoundCount()) {
    const views::MediaItem& media = items_->MediaAt(shown_);
    if (!media.PictureSource.empty()) picture = loader_->Thumbnail(media.PictureSource, media.PictureKey).value_or(QPixmap());
  }
  preview_->setPixmap(picture);
  preview_->setVisible(!picture.isNull());
}

}  // namespace quarry
