#include "quarry/pages/contact_info_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
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
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setDefaultSectionSize(140);

  auto* pane = new QWidget(this);
  pane->setObjectName(QStringLiteral("contactDetail"));
  pane->setFixedWidth(190);
  detailTitle_ = new QLabel(pane);
  detailTitle_->setObjectName(QStringLiteral("contactDetailTitle"));
  detailTitle_->setWordWrap(true);
  QFont bold = detailTitle_->font();
  bold.setBold(true);
  detailTitle_->setFont(bold);
  detailPicture_ = new QLabel(pane);
  detailPicture_->setFixedSize(kPortraitSize, kPortraitSize);
  detailPicture_->setScaledContents(true);
  detailLines_ = new QLabel(pane);
  detailLines_->setWordWrap(true);
  detailLines_->setTextFormat(Qt::PlainText);
  detailLines_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  detailLines_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* paneLayout = new QVBoxLayout(pane);
  paneLayout->addWidget(detailTitle_);
  paneLayout->addWidget(detailPicture_);
  paneLayout->addWidget(detailLines_, 1);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(table_, 1);
  layout->addWidget(pane);

  connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { ShowDetail(model_->ItemAtRow(current.isValid() ? current.row() : -1)); });
  // A rebuilt list (filter, search, new scan) has no selection any more.
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { ShowDetail(-1); });
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

QIcon CContactInfoDlg::RowIcon(int row) const {
  const QModelIndex cell = model_->index(row, 0);
  return cell.isValid() && cell.data(views::CategoryModel::kDeletedRole).toBool() ? DeletedIcon() : QIcon();
}

QString CContactInfoDlg::DetailText() const {
  if (detailTitle_->text().isEmpty()) return {};
  return detailTitle_->text() + QLatin1Char('\n') + detailLines_->text();
}

void CContactInfoDlg::ShowDetail(qsizetype item) {
  if (item < 0 || item >= model_->FoundCount()) {
    detailTitle_->clear();
    detailPicture_->clear();
    detailPicture_->hide();
    detailLines_->clear();
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
  QStringList lines;
  const auto line = [&lines](const QString& caption, const QString& value) {
    if (!value.isEmpty()) lines.append(caption + QStringLiteral(": ") + value);
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
  detailLines_->setText(lines.join(QLatin1Char('\n')));
}

}  // namespace quarry
