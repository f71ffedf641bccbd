// The contacts page driven as a user would: clicks on the check boxes, check
// all, invert, the deleted-only switch and the search, the detail pane, and a
// recovery whose files are read back and compared with the records.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTemporaryDir>
#include <QCollator>
#include <QHeaderView>
#include <QScrollBar>
#include <QLabel>
#include <algorithm>
#include <QTest>

#include "export_parsers.h"
#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/contact_info_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/views/contacts_export.h"
#include "quarry/views/contacts_model.h"

namespace quarry {

namespace {

sieve::ContactRecord Contact(const std::string& first, const std::string& last, bool deleted,
                             const std::string& phone = {}, const std::string& company = {}) {
  sieve::ContactRecord r;
  r.First = first;
  r.Last = last;
  r.Phone = phone;
  r.Organization = company;
  r.Deleted = deleted ? 1 : 0;
  return r;
}

// Sum of the deltas the page reported to the window.
qint64 ReportedCount(const QSignalSpy& spy) {
  qint64 sum = 0;
  for (const QList<QVariant>& call : spy) sum += call.at(0).toLongLong();
  return sum;
}

QStringList Sorted(QStringList list) {
  list.sort();
  return list;
}

}  // namespace

class ContactInfoDlgTest : public QObject {
  Q_OBJECT

 private:
  // Names in arrival order; the ones marked deleted are Bob and Ann Lee.
  const QStringList names_{QStringLiteral("Joanna"), QStringLiteral("Bob"), QStringLiteral("<script>"),
                           QStringLiteral("a,\"b\""), QStringLiteral("Ann Lee"), QStringLiteral("Carl")};

  void Fill(views::ContactsModel& model) {
    model.AddContact(Contact("Joanna", "", false, "555 0100", "Acme & Co"));
    model.AddContact(Contact("Bob", "", true, "555 0101"));
    model.AddContact(Contact("<script>", "", false, "<b>1</b>", "</td>"));
    model.AddContact(Contact("a,\"b\"", "", false, "1,2", "x;y"));
    model.AddContact(Contact("Ann", "Lee", true));
    model.AddContact(Contact("Carl", "", false));
  }

  static int RowOf(const views::ContactsModel& model, const QString& name) {
    for (int row = 0; row < model.rowCount(); ++row) {
      if (model.index(row, 0).data().toString() == name) return row;
    }
    return -1;
  }

  static bool CheckedByName(const views::ContactsModel& model, const QString& name) {
    for (qsizetype item = 0; item < model.FoundCount(); ++item) {
      if (model.Item(item).Name == name) return model.IsChecked(item);
    }
    return false;
  }

  // Clicks the check box of `row` where the style draws it.
  static void ClickCheckBox(QTableView* table, int row) {
    const QModelIndex cell = table->model()->index(row, 0);
    QStyleOptionViewItem option;
    option.initFrom(table->viewport());
    option.rect = table->visualRect(cell);
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = cell.data(Qt::CheckStateRole).value<Qt::CheckState>();
    const QRect box = table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, table);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, box.center());
  }

 private slots:
  void ClicksChecksAllAndInvertReachTheWindowAsCheckedDeltas() {
    PageBus bus;
    views::ContactsModel model;
    Fill(model);
    CContactInfoDlg page(&model);
    PageBus::Attach(&page, &bus);
    page.InitPage();
    page.resize(624, 408);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy selection(&bus, &PageBus::selectionChanged);

    const int bob = RowOf(model, QStringLiteral("Bob"));
    ClickCheckBox(page.Table(), bob);
    QVERIFY(!CheckedByName(model, QStringLiteral("Bob")));
    QCOMPARE(selection.count(), 1);
    QCOMPARE(selection.at(0).at(0).toLongLong(), -1);
    ClickCheckBox(page.Table(), bob);
    QVERIFY(CheckedByName(model, QStringLiteral("Bob")));
    QCOMPARE(ReportedCount(selection), 0);
    // A click beside the box selects the row without touching its check.
    QTest::mouseClick(page.Table()->viewport(), Qt::LeftButton, {},
                      page.Table()->visualRect(model.index(bob, 2)).center());
    QVERIFY(CheckedByName(model, QStringLiteral("Bob")));
    QVERIFY(page.DetailText().startsWith(QStringLiteral("Bob\n")));
    QVERIFY(page.DetailText().contains(QStringLiteral("555 0101")));

    selection.clear();
    page.CheckAll(false);
    QCOMPARE(ReportedCount(selection), -6);
    QCOMPARE(model.CheckedCount(), 0);
    page.CheckAll(false);  // nothing changes, nothing reported
    QCOMPARE(ReportedCount(selection), -6);
    page.CheckAll(true);
    QCOMPARE(model.CheckedCount(), 6);

    // Invert with c of n rows checked changes the checked count by n - 2c.
    ClickCheckBox(page.Table(), RowOf(model, QStringLiteral("Carl")));
    ClickCheckBox(page.Table(), RowOf(model, QStringLiteral("Joanna")));
    selection.clear();
    page.InvertCheck();
    QCOMPARE(ReportedCount(selection), 6 - 2 * 4);
    QCOMPARE(model.CheckedCount(), 2);
    QVERIFY(CheckedByName(model, QStringLiteral("Carl")));
    QVERIFY(CheckedByName(model, QStringLiteral("Joanna")));
    QVERIFY(!CheckedByName(model, QStringLiteral("Bob")));
    // The found total was never touched by checks.
    QCOMPARE(model.FoundCount(), 6);
  }

  void DeletedOnlyAndSearchKeepEveryCheck() {
    views::ContactsModel model;
    Fill(model);
    CContactInfoDlg page(&model);
    page.resize(624, 408);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    ClickCheckBox(page.Table(), RowOf(model, QStringLiteral("Carl")));
    page.Table()->selectRow(RowOf(model, QStringLiteral("Joanna")));
    QVERIFY(!page.DetailText().isEmpty());

    page.ApplyDeletedOnly(true);
    QVERIFY(page.DetailText().isEmpty());  // the pane is cleared with the list
    QCOMPARE(model.rowCount(), 2);
    for (int row = 0; row < model.rowCount(); ++row) {
      QVERIFY(!page.RowIcon(row).isNull());
      QCOMPARE(model.index(row, 0).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(255, 0, 0));
    }
    page.CheckAll(false);  // only the two deleted ones are shown, so only they change
    page.ApplyDeletedOnly(false);
    QCOMPARE(model.rowCount(), 6);
    QVERIFY(page.RowIcon(RowOf(model, QStringLiteral("Joanna"))).isNull());
    QVERIFY(!page.RowIcon(RowOf(model, QStringLiteral("Ann Lee"))).isNull());
    QVERIFY(!CheckedByName(model, QStringLiteral("Bob")));
    QVERIFY(!CheckedByName(model, QStringLiteral("Ann Lee")));
    QVERIFY(!CheckedByName(model, QStringLiteral("Carl")));
    QVERIFY(CheckedByName(model, QStringLiteral("Joanna")));
    QVERIFY(CheckedByName(model, QStringLiteral("<script>")));
    QCOMPARE(model.CheckedCount(), 3);

    // "ANN" finds Joanna and Ann Lee: case-insensitive, inside words.
    page.SearchText(QStringLiteral("ANN"));
    QCOMPARE(model.rowCount(), 2);
    ClickCheckBox(page.Table(), RowOf(model, QStringLiteral("Ann Lee")));
    QVERIFY(CheckedByName(model, QStringLiteral("Ann Lee")));
    page.SearchText(QString());
    QCOMPARE(model.rowCount(), 6);
    QCOMPARE(model.CheckedCount(), 4);
    QVERIFY(CheckedByName(model, QStringLiteral("Ann Lee")));
    QVERIFY(!CheckedByName(model, QStringLiteral("Carl")));
  }

  // The pane shows every field, and each value under its own label.
  void DetailPaneShowsEveryFieldUnderItsLabel() {
    views::ContactsModel model;
    sieve::ContactRecord r = Contact("Kenji", "Müller", false);
    r.Nickname = "Ken";
    r.JobTitle = "Engineer";
    r.Note = "met in 2014";
    r.Birthday = "1984-01-01";
    r.CreationDate = "2016-01-26 10:00:00";
    r.Values = {{3, "_$!<Pager>!$_", "555 0102", {}}, {3, "Ferienhaus", "555 0103", {}},
                {4, "_$!<Work>!$_", "k@work.example", {}}};
    model.AddContact(r);
    CContactInfoDlg page(&model);
    page.resize(624, 408);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.Table()->selectRow(0);
    const QStringList lines = page.DetailText().split(QLatin1Char('\n'));
    for (const char* line : {"Kenji Müller", "Nickname: Ken", "Job Title: Engineer", "pager: 555 0102",
                             "Ferienhaus: 555 0103", "work: k@work.example", "Birthday: 1984-01-01",
                             "Note: met in 2014", "Created: 2016-01-26 10:00:00"}) {
      QVERIFY2(lines.contains(QString::fromUtf8(line)), line);
    }
  }

  void AHeaderClickSortsAndTheChecksFollowTheirItems() {
    views::ContactsModel model;
    Fill(model);
    CContactInfoDlg page(&model);
    page.resize(900, 408);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    // Arrival order until the user asks for another.
    QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("Joanna"));
    model.SetChecked(1, false);  // Bob
    page.Table()->selectRow(RowOf(model, QStringLiteral("Carl")));
    QHeaderView* header = page.Table()->horizontalHeader();
    const auto clickHeader = [&](int section) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                               header->height() / 2));
    };
    clickHeader(0);
    QStringList shown;
    for (int row = 0; row < model.rowCount(); ++row) shown.append(model.index(row, 0).data().toString());
    QStringList expected = names_;
    expected.replace(4, QStringLiteral("Ann Lee"));
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(expected.begin(), expected.end(), collator);
    if (header->sortIndicatorOrder() == Qt::DescendingOrder) std::reverse(expected.begin(), expected.end());
    QCOMPARE(shown, expected);
    clickHeader(0);  // the other way round
    QCOMPARE(model.index(0, 0).data().toString(), expected.last());
    // Checks and the selection stay with their contacts; a new find takes its sorted place.
    QCOMPARE(model.index(RowOf(model, QStringLiteral("Bob")), 0).data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
    QVERIFY(page.DetailText().startsWith(QStringLiteral("Carl\n")));
    model.AddContact(Contact("Zed", "", false));
    QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("Zed"));
  }

  void TheListUsesTheWidthAndLongValuesWrap() {
    views::ContactsModel model;
    sieve::ContactRecord r = Contact("Kenji", "", false);
    r.Note = std::string(200, 'x') + " and some words after it to wrap as well";
    model.AddContact(r);
    CContactInfoDlg page(&model);
    for (const int width : {624, 1400}) {
      page.resize(width, 408);
      page.show();
      QVERIFY(QTest::qWaitForWindowExposed(&page));
      QTRY_VERIFY(page.Table()->width() > width / 2);
      // The columns fill the list: no strip beside them, no sideways scrolling.
      QHeaderView* header = page.Table()->horizontalHeader();
      QCOMPARE(header->length(), page.Table()->viewport()->width());
      QVERIFY(!page.Table()->horizontalScrollBar()->isVisible());
    }
    page.Table()->selectRow(0);
    // Every label and value in its own cell; the long value wraps inside the pane.
    QList<QLabel*> values;
    for (QLabel* label : page.findChildren<QLabel*>(QStringLiteral("categoryDetailValue"))) values.append(label);
    QVERIFY(!values.isEmpty());
    QWidget* pane = page.findChild<QWidget*>(QStringLiteral("categoryDetail"));
    for (QLabel* value : values) {
      QTRY_VERIFY(value->isVisible());
      QVERIFY2(value->geometry().right() <= pane->width(), qPrintable(value->text().left(20)));
    }
    QCOMPARE(page.findChildren<QLabel*>(QStringLiteral("categoryDetailLabel")).size(), values.size());
  }

  void AnEmptyListSaysWhy() {
    views::ContactsModel model;
    CContactInfoDlg page(&model);
    page.show();
    QCOMPARE(page.EmptyText(), Translate(QStringLiteral("IDS_VIEW_EMPTY")));
    Fill(model);
    QVERIFY(page.EmptyText().isEmpty());
    page.SearchText(QStringLiteral("nobody by this name"));
    QCOMPARE(page.EmptyText(), Translate(QStringLiteral("IDS_VIEW_EMPTY_FILTERED")));
    page.SearchText(QString());
    QVERIFY(page.EmptyText().isEmpty());
  }

  void DeletedMarkerComesFromTheResources() {
    const QIcon icon = CContactInfoDlg::DeletedIcon();
    QVERIFY(!icon.isNull());
    const QImage image = icon.pixmap(QSize(16, 16)).toImage();
    // Red in the disc, white in the cross at the centre.
    QVERIFY(qRed(image.pixel(3, 8)) > 200 && qGreen(image.pixel(3, 8)) < 80);
    QVERIFY(qGreen(image.pixel(8, 8)) > 200);
  }

  void RecoverToWritesFilesThatReadBackAsTheRecords() {
    views::ContactsModel model;
    Fill(model);
    CContactInfoDlg page(&model);
    // Carl cleared; Bob checked but hidden by the search: still recovered.
    model.SetChecked(5, false);
    page.SearchText(QStringLiteral("script"));
    QCOMPARE(model.rowCount(), 1);
    const QStringList expected = names_.mid(0, 5);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    page.RecoverTo(dir.path());
    QVERIFY2(page.LastReport().Failed.isEmpty(), qPrintable(page.LastReport().Failed.join('\n')));
    const QDir category(QDir(dir.path()).filePath(QStringLiteral("Contacts")));

    const QString csvPath = category.filePath(QStringLiteral("CSV/Contacts.csv"));
    const QByteArray csvBytes = views::test::ReadBytes(csvPath);
    QVERIFY(csvBytes.startsWith("\xEF\xBB\xBF"));
    const std::vector<QStringList> rows = views::test::ReadCsv(QString::fromUtf8(csvBytes));
    QCOMPARE(rows.size(), std::size_t{6});  // header and five contacts
    for (std::size_t k = 1; k < rows.size(); ++k) {
      QCOMPARE(rows[k].size(), views::ContactsExport::CsvHeaders().size());
      QCOMPARE(rows[k][0], expected[static_cast<qsizetype>(k - 1)]);
    }
    // The main number of a record without labelled values counts as its mobile number.
    QCOMPARE(rows[3][7], QStringLiteral("<b>1</b>"));
    QCOMPARE(rows[4][7], QStringLiteral("1,2"));

    QStringList cardNames;
    QStringList cardPhones;
    QDirIterator cards(category.filePath(QStringLiteral("VCF")), {QStringLiteral("*.vcf")}, QDir::Files);
    int cardFiles = 0;
    while (cards.hasNext()) {
      ++cardFiles;
      const std::vector<views::test::VCard> parsed =
          views::test::ReadVCards(QString::fromUtf8(views::test::ReadBytes(cards.next())));
      QCOMPARE(parsed.size(), std::size_t{1});
      cardNames << views::test::VCardUnescape(parsed[0].Values(QStringLiteral("FN")).value(0));
      cardPhones << views::test::VCardUnescape(parsed[0].Values(QStringLiteral("TEL;TYPE=CELL")).value(0));
    }
    QCOMPARE(cardFiles, 5);
    QCOMPARE(Sorted(cardNames), Sorted(expected));
    QVERIFY(cardPhones.contains(QStringLiteral("1,2")));
    QVERIFY(cardPhones.contains(QStringLiteral("<b>1</b>")));

    QString error;
    const QMap<QString, QStringList> html = views::test::ReadHtmlDivTexts(
        views::test::ReadBytes(category.filePath(QStringLiteral("HTML/Contacts.html"))), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(html.value(QStringLiteral("righttit")), expected);
    QCOMPARE(html.value(QStringLiteral("name")), expected);
    QCOMPARE(html.value(QStringLiteral("company")).value(0), QStringLiteral("Acme & Co"));
    QCOMPARE(html.value(QStringLiteral("company")).value(2), QStringLiteral("</td>"));

    // A second recovery into the same folder never replaces the first.
    page.RecoverTo(dir.path());
    QVERIFY(page.LastReport().Failed.isEmpty());
    QVERIFY(QFileInfo::exists(category.filePath(QStringLiteral("CSV/Contacts (2).csv"))));
    QCOMPARE(views::test::ReadBytes(csvPath), csvBytes);
  }

  void CancelFlagStopsTheRecoveryBeforeTheVCards() {
    views::ContactsModel model;
    Fill(model);
    CContactInfoDlg page(&model);
    page.cancelFlag = true;
    QTemporaryDir dir;
    page.RecoverTo(dir.path());
    QVERIFY(!QFileInfo::exists(QDir(dir.path()).filePath(QStringLiteral("Contacts/VCF"))));
    for (const QString& written : page.LastReport().Written) QVERIFY(!written.endsWith(QStringLiteral(".vcf")));
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::ContactInfoDlgTest)
#include "contact_info_dlg_test.moc"
