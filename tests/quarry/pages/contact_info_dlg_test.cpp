// What the contacts page has beyond every category page (tests/quarry/pages/
// category_page_test.cpp): the detail pane with every field under its label, and a
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

 private slots:
  // Every field under its label in the window's language: the device's own labels and a
  // value's kind through the dictionary, a label the user typed as written.
  void DetailPaneShowsEveryFieldUnderItsLabel() {
    const struct {
      const char* language;
      std::vector<const char*> lines;
    } cases[] = {
        {"en", {"Kenji Müller", "Nickname: Ken", "Job Title: Engineer", "pager: 555 0102", "Ferienhaus: 555 0103",
                "work: k@work.example", "mobile: 555 0104", "main: 555 0105", "phone: 555 0106",
                "Birthday: 1984-01-01", "Note: met in 2014", "Created: 2016-01-26 10:00:00"}},
        {"de", {"Kenji Müller", "Spitzname: Ken", "Pager: 555 0102", "Ferienhaus: 555 0103", "Arbeit: k@work.example",
                "Mobil: 555 0104", "Hauptnummer: 555 0105", "Telefon: 555 0106", "Geburtstag: 1984-01-01",
                "Notiz: met in 2014"}},
        {"fr", {"Ferienhaus: 555 0103", "travail: k@work.example", "portable: 555 0104", "téléphone: 555 0106"}},
    };
    for (const auto& c : cases) {
      CRBDictionary dictionary;
      QVERIFY(dictionary.LoadFile(QStringLiteral(QUARRY_DIC_DIR "/") + QLatin1String(c.language) +
                                  QStringLiteral("/quarry.ini")));
      views::ContactsModel model([&dictionary](const QString& key) { return dictionary.Text(key); });
      sieve::ContactRecord r = Contact("Kenji", "Müller", false);
      r.Nickname = "Ken";
      r.JobTitle = "Engineer";
      r.Note = "met in 2014";
      r.Birthday = "1984-01-01";
      r.CreationDate = "2016-01-26 10:00:00";
      r.Values = {{3, "_$!<Pager>!$_", "555 0102", {}}, {3, "Ferienhaus", "555 0103", {}},
                  {4, "_$!<Work>!$_", "k@work.example", {}}, {3, "_$!<Mobile>!$_", "555 0104", {}},
                  {3, "_$!<Main>!$_", "555 0105", {}}, {3, "", "555 0106", {}}};
      model.AddContact(r);
      CContactInfoDlg page(&model);
      page.resize(624, 408);
      page.show();
      QVERIFY(QTest::qWaitForWindowExposed(&page));
      page.Table()->selectRow(0);
      const QStringList lines = page.DetailText().split(QLatin1Char('\n'));
      for (const char* line : c.lines) {
        QVERIFY2(lines.contains(QString::fromUtf8(line)), qPrintable(QLatin1String(c.language) + QLatin1Char(' ') +
                                                                      QString::fromUtf8(line) + QLatin1String(" in ") +
                                                                      lines.join(QLatin1String(" | "))));
      }
    }
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

};

}  // namespace quarry

QTEST_MAIN(quarry::ContactInfoDlgTest)
#include "contact_info_dlg_test.moc"
