#include "quarry/pages/category_page.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QTableView>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/page_bus.h"

namespace quarry {

namespace {

QString Text(const char* key) { return Translate(QLatin1String(key)); }

// Puts the deleted marker before the first cell of a deleted item; the model gives
// the red text itself.
class DeletedMarkDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != 0 || !index.data(views::CategoryModel::kDeletedRole).toBool()) return;
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->icon = CCategoryPage::DeletedIcon();
    option->decorationSize = QSize(16, 16);
  }
};

}  // namespace

QIcon CCategoryPage::DeletedIcon() {
  static const QIcon icon = [] {
    QIcon made;
    QSvgRenderer svg(QStringLiteral(":/quarry/deleted_mark.svg"));
    if (!svg.isValid()) return made;
    // Drawn at several sizes so the marker stays sharp on scaled screens.
    for (const int side : {16, 24, 32, 48}) {
      QPixmap pixmap(side, side);
      pixmap.fill(Qt::transparent);
      QPainter painter(&pixmap);
      svg.render(&painter);
      painter.end();
      made.addPixmap(pixmap);
    }
    return made;
  }();
  return icon;
}

CCategoryPage::CCategoryPage(views::CategoryModel* model, Detail detail, QWidget* parent)
    : CFunctionDlg(parent), model_(model) {
  // Built here rather than in InitPage, so the page works before (and
  // without) being added to a container.
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("categoryTable"));
  table_->setModel(model_);
  table_->setItemDelegate(new DeletedMarkDelegate(table_));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  // Rows of one height: the view need not measure every row of a long list.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  // The columns share the list's width, whatever the window's: no scroll bar
  // beside an empty strip. Long texts are shortened; the detail pane has them whole.
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  table_->setSortingEnabled(true);  // a header click sorts; arrival order until then
  table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  // An empty list says why: nothing found, or nothing matching the filters.
  empty_ = new QLabel(table_->viewport());
  empty_->setObjectName(QStringLiteral("categoryEmpty"));
  empty_->setAlignment(Qt::AlignCenter);
  empty_->setWordWrap(true);
  empty_->setStyleSheet(QStringLiteral("color: #6b7a8c;"));
  auto* emptyLayout = new QVBoxLayout(table_->viewport());
  emptyLayout->addWidget(empty_);

  split_ = new QSplitter(Qt::Horizontal, this);
  split_->setObjectName(QStringLiteral("categorySplit"));
  split_->setChildrenCollapsible(false);
  split_->addWidget(table_);
  if (detail == Detail::Pane) {
    pane_ = new QWidget(this);
    pane_->setObjectName(QStringLiteral("categoryDetail"));
    pane_->setMinimumWidth(220);
    detailTitle_ = new QLabel(pane_);
    detailTitle_->setObjectName(QStringLiteral("categoryDetailTitle"));
    detailTitle_->setWordWrap(true);
    detailTitle_->setTextFormat(Qt::PlainText);
    QFont bold = detailTitle_->font();
    bold.setBold(true);
    detailTitle_->setFont(bold);
    // Labels and values in two columns; a long value wraps inside its cell.
    detailGrid_ = new QWidget;
    detailGrid_->setObjectName(QStringLiteral("categoryDetailGrid"));
    detailRows_ = new QFormLayout(detailGrid_);
    detailRows_->setContentsMargins(0, 0, 0, 0);
    detailRows_->setHorizontalSpacing(10);
    detailRows_->setVerticalSpacing(6);
    detailRows_->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
    detailRows_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    detailRows_->setRowWrapPolicy(QFormLayout::DontWrapRows);
    auto* scroll = new QScrollArea(pane_);
    scroll->setObjectName(QStringLiteral("categoryDetailScroll"));
    scroll->setWidget(detailGrid_);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    detailHead_ = new QVBoxLayout;
    detailHead_->setContentsMargins(0, 0, 0, 0);
    auto* paneLayout = new QVBoxLayout(pane_);
    paneLayout->setContentsMargins(8, 0, 0, 0);
    paneLayout->addWidget(detailTitle_);
    paneLayout->addLayout(detailHead_);
    paneLayout->addWidget(scroll, 1);
    // List and detail share the width; the user may move the border between them.
    split_->addWidget(pane_);
    split_->setStretchFactor(0, 3);
    split_->setStretchFactor(1, 2);
  }
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(split_);

  connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { ShowDetail(model_->ItemAtRow(current.isValid() ? current.row() : -1)); });
  // A rebuilt list (filter, search, new scan) has no selection any more.
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    ShowDetail(-1);
    UpdateEmptyText();
  });
  connect(model_, &QAbstractItemModel::rowsInserted, this, &CCategoryPage::UpdateEmptyText);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, &CCategoryPage::UpdateEmptyText);
  UpdateEmptyText();
  connect(model_, &views::CategoryModel::SelectionChanged, this, [this](qint64 count, qint64 size) {
    emit PageBus::Of(this)->selectionChanged(count, size);
  });
}

CCategoryPage::~CCategoryPage() = default;

void CCategoryPage::InitPage() { ShowDetail(-1); }

void CCategoryPage::CheckAll(bool check) { model_->CheckAll(check); }

void CCategoryPage::InvertCheck() { model_->InvertCheck(); }

void CCategoryPage::ShowDeletedOnly(bool deletedOnlyFlag) {
  ShowDetail(-1);
  model_->ShowDeletedOnly(deletedOnlyFlag);
}

void CCategoryPage::SearchText(const QString& text) {
  ShowDetail(-1);
  model_->SearchText(text);
}

void CCategoryPage::RecoverTo(const QString& folder) {
  lastReport_ = {};
  // A copy, so the list may change while the files are written.
  const std::unique_ptr<views::CategoryExport> snapshot = model_->SnapshotChecked();
  snapshot->RecoverTo(folder, cancelFlag, lastReport_);
}

void CCategoryPage::SetListWidget(QWidget* widget) {
  // The splitter gives the new widget the old one's visibility: replaced while shown.
  split_->replaceWidget(0, widget);
  widget->show();
  // The table stays a child so that filters, selection and tests keep working through it.
  table_->setParent(this);
  table_->hide();
}

void CCategoryPage::UpdateEmptyText() {
  const bool filtered = model_->FoundCount() > 0;
  empty_->setText(Text(filtered ? "IDS_VIEW_EMPTY_FILTERED" : "IDS_VIEW_EMPTY"));
  empty_->setVisible(model_->rowCount() == 0);
}

QString CCategoryPage::EmptyText() const { return empty_->isVisibleTo(table_) ? empty_->text() : QString(); }

QIcon CCategoryPage::RowIcon(int row) const {
  const QModelIndex cell = model_->index(row, 0);
  return cell.isValid() && cell.data(views::CategoryModel::kDeletedRole).toBool() ? DeletedIcon() : QIcon();
}

// Lets a label wrap a long word (an address, a web page) too: a zero-width
// space after every few characters of it gives the line breaker its chances.
QString CCategoryPage::Breakable(const QString& value) {
  constexpr int kRun = 16;
  QString out;
  int run = 0;
  for (const QChar c : value) {
    out.append(c);
    run = c.isSpace() ? 0 : run + 1;
    if (run >= kRun) {
      out.append(QChar(0x200B));
      run = 0;
    }
  }
  return out;
}

QString CCategoryPage::DetailText() const {
  if (detailTitle_ == nullptr || detailTitle_->text().isEmpty()) return {};
  return detailTitle_->text() + QLatin1Char('\n') + detailLines_.join(QLatin1Char('\n'));
}

void CCategoryPage::ShowDetail(qsizetype item) {
  if (pane_ == nullptr) return;
  if (item < 0 || item >= model_->FoundCount()) {
    SetDetailTitle({});
    SetDetailRows({});
    return;
  }
  SetDetailTitle(model_->ItemCell(item, 0));
  SetDetailRows(model_->Detail(item));
}

void CCategoryPage::SetDetailTitle(const QString& title) {
  if (detailTitle_ != nullptr) detailTitle_->setText(title);
}

void CCategoryPage::SetDetailRows(const views::DetailRows& rows) {
  if (detailRows_ == nullptr) return;
  while (detailRows_->rowCount() > 0) detailRows_->removeRow(0);
  detailLines_.clear();
  for (const auto& [caption, value] : rows) {
    if (value.isEmpty()) continue;
    auto* label = new QLabel(caption, detailGrid_);
    label->setObjectName(QStringLiteral("categoryDetailLabel"));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* text = new QLabel(Breakable(value), detailGrid_);
    text->setObjectName(QStringLiteral("categoryDetailValue"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detailRows_->addRow(label, text);
    detailLines_.append(caption + QStringLiteral(": ") + value);
  }
}

}  // namespace quarry
