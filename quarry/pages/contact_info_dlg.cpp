#include "quarry/pages/contact_info_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QFormLayout>
#include <QPainter>
#include <QScrollArea>
#include <QSplitter>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QTableView>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/page_bus.h"
#include "quarry/views/contact_labels.h"
#include "quarry/views/html_report.h"
#include "quarry/views/view_texts.h"

namespace quarry {

namespace {

constexpr int kPortraitSize = 64;

// Lets a label wrap a long word (an address, a web page) too: a zero-width
// space after every few characters of it gives the line breaker its chances.
QString Breakable(const QString& value) {
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

// The dictionary's text, or the views' English text when the dictionary
// lacks the key (Translate answers with the key itself then).
QString Text(const char* key) {
  const QString k = QLatin1String(key);
  const QString text = Translate(k);
  return text.isEmpty() || text == k ? views::EnglishViewText(k) : text;
}

// Puts the deleted marker before the name of a deleted item; the model gives
// the red text itself.
class DeletedMarkDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != 0 || !index.data(views::CategoryModel::kDeletedRole).toBool()) return;
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->icon = CContactInfoDlg::DeletedIcon();
    option->decorationSize = QSize(16, 16);
  }
};

}  // namespace

QIcon CContactInfoDlg::DeletedIcon() {
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

CContactInfoDlg::CContactInfoDlg(views::ContactsModel* model, QWidget* parent)
    : CFunctionDlg(parent), model_(model) {
  // Built here rather than in InitPage, so the page works before (and
  // without) being added to a container.
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("contactsTable"));
  table_->setModel(model_);
  table_->setItemDelegate(new DeletedMarkDelegate(table_));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  // The columns share the list's width, whatever the window's: no scroll bar
  // beside an empty strip. Long texts are shortened; the detail pane has them whole.
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  table_->setSortingEnabled(true);  // a header click sorts; arrival order until then
  table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  // An empty list says why: nothing found, or nothing matching the filters.
  empty_ = new QLabel(table_->viewport());
  empty_->setObjectName(QStringLiteral("contactsEmpty"));
  empty_->setAlignment(Qt::AlignCenter);
  empty_->setWordWrap(true);
  empty_->setStyleSheet(QStringLiteral("color: #6b7a8c;"));
  auto* emptyLayout = new QVBoxLayout(table_->viewport());
  emptyLayout->addWidget(empty_);

  auto* pane = new QWidget(this);
  pane->setObjectName(QStringLiteral("contactDetail"));
  pane->setMinimumWidth(220);
  detailTitle_ = new QLabel(pane);
  detailTitle_->setObjectName(QStringLiteral("contactDetailTitle"));
  detailTitle_->setWordWrap(true);
  QFont bold = detailTitle_->font();
  bold.setBold(true);
  detailTitle_->setFont(bold);
  detailPicture_ = new QLabel(pane);
  detailPicture_->setFixedSize(kPortraitSize, kPortraitSize);
  detailPicture_->setScaledContents(true);
  // Labels and values in two columns; a long value wraps inside its cell.
  detailGrid_ = new QWidget;
  detailGrid_->setObjectName(QStringLiteral("contactDetailGrid"));
  detailRows_ = new QFormLayout(detailGrid_);
  detailRows_->setContentsMargins(0, 0, 0, 0);
  detailRows_->setHorizontalSpacing(10);
  detailRows_->setVerticalSpacing(6);
  detailRows_->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
  detailRows_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  detailRows_->setRowWrapPolicy(QFormLayout::DontWrapRows);
  auto* scroll = new QScrollArea(pane);
  scroll->setObjectName(QStringLiteral("contactDetailScroll"));
  scroll->setWidget(detailGrid_);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* paneLayout = new QVBoxLayout(pane);
  paneLayout->setContentsMargins(8, 0, 0, 0);
  paneLayout->addWidget(detailTitle_);
  paneLayout->addWidget(detailPicture_);
  paneLayout->addWidget(scroll, 1);

  // List and detail share the width; the user may move the border between them.
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName(QStringLiteral("contactSplit"));
  split->setChildrenCollapsible(false);
  split->addWidget(table_);
  split->addWidget(pane);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(split);

  connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { ShowDetail(model_->ItemAtRow(current.isValid() ? current.row() : -1)); });
  // A rebuilt list (filter, search, new scan) has no selection any more.
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    ShowDetail(-1);
    UpdateEmptyText();
  });
  connect(model_, &QAbstractItemModel::rowsInserted, this, &CContactInfoDlg::UpdateEmptyText);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, &CContactInfoDlg::UpdateEmptyText);
  UpdateEmptyText();
  connect(model_, &views::CategoryModel::SelectionChanged, this, [this](qint64 count, qint64 size) {
    emit PageBus::Of(this)->selectionChanged(count, size);
  });
  ShowDetail(-1);
}

CContactInfoDlg::~CContactInfoDlg() = default;

void CContactInfoDlg::InitPage() { ShowDetail(-1); }

void CContactInfoDlg::CheckAll(bool check) { model_->CheckAll(check); }

void CContactInfoDlg::InvertCheck() { model_->InvertCheck(); }

void CContactInfoDlg::ShowDeletedOnly(bool deletedOnlyFlag) {
  ShowDetail(-1);
  model_->ShowDeletedOnly(deletedOnlyFlag);
}

void CContactInfoDlg::SearchText(const QString& text) {
  ShowDetail(-1);
  model_->SearchText(text);
}

void CContactInfoDlg::RecoverTo(const QString& folder) {
  lastReport_ = {};
  // A copy, so the list may change while the files are written.
  const std::unique_ptr<views::CategoryExport> snapshot = model_->SnapshotChecked();
  snapshot->RecoverTo(folder, cancelFlag, lastReport_);
}

void CContactInfoDlg::UpdateEmptyText() {
  const bool filtered = model_->FoundCount() > 0;
  empty_->setText(Text(filtered ? "IDS_CONTACT_EMPTY_FILTERED" : "IDS_CONTACT_EMPTY"));
  empty_->setVisible(model_->rowCount() == 0);
}

QString CContactInfoDlg::EmptyText() const { return empty_->isVisibleTo(table_) ? empty_->text() : QString(); }

QIcon CContactInfoDlg::RowIcon(int row) const {
  const QModelIndex cell = model_->index(row, 0);
  return cell.isValid() && cell.data(views::CategoryModel::kDeletedRole).toBool() ? DeletedIcon() : QIcon();
}

QString CContactInfoDlg::DetailText() const {
  if (detailTitle_->text().isEmpty()) return {};
  return detailTitle_->text() + QLatin1Char('\n') + detailLines_.join(QLatin1Char('\n'));
}

void CContactInfoDlg::ShowDetail(qsizetype item) {
  if (item < 0 || item >= model_->FoundCount()) {
    detailTitle_->clear();
    detailPicture_->clear();
    detailPicture_->hide();
    SetDetailRows({});
    return;
  }
  const views::ContactItem& contact = model_->Item(item);
  detailTitle_->setText(contact.Name);
  QPixmap picture;
  if (contact.ImagePath.isEmpty() || !picture.load(contact.ImagePath)) {
    picture.loadFromData(views::DefaultPortraitPng(), "PNG");
  }
  detailPicture_->setPixmap(picture);
  detailPicture_->show();
  QList<std::pair<QString, QString>> rows;
  const auto line = [&rows](const QString& caption, const QString& value) {
    if (!value.isEmpty()) rows.append({caption, value});
  };
  const auto add = [&line](const char* key, const QString& value) { line(Text(key), value); };
  add("IDS_CONTACT_NICKNAME", contact.Nickname);
  add("IDS_RECOVERY_CONTACT_HEADER_COMPANY", contact.Company);
  add("IDS_CONTACT_CSV_DEPARTMENT", contact.Department);
  add("IDS_CONTACT_CSV_JOBTITLE", contact.JobTitle);
  // Every value under its own label, as the address book has it.
  for (const views::ContactValueItem& value : contact.Values) line(views::ValueCaption(value), value.Value);
  add("IDS_CONTACT_BIRTHDAY", contact.Birthday);
  add("IDS_CONTACT_CSV_NOTE", contact.Note);
  add("IDS_CONTACT_CREATED", contact.Created);
  add("IDS_CONTACT_MODIFIED", contact.Modified);
  SetDetailRows(rows);
}

void CContactInfoDlg::SetDetailRows(const QList<std::pair<QString, QString>>& rows) {
  while (detailRows_->rowCount() > 0) detailRows_->removeRow(0);
  detailLines_.clear();
  for (const auto& [caption, value] : rows) {
    auto* label = new QLabel(caption, detailGrid_);
    label->setObjectName(QStringLiteral("contactDetailLabel"));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* text = new QLabel(Breakable(value), detailGrid_);
    text->setObjectName(QStringLiteral("contactDetailValue"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detailRows_->addRow(label, text);
    detailLines_.append(caption + QStringLiteral(": ") + value);
  }
}

}  // namespace quarry
