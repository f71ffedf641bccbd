// What the contacts page has beyond every category page (category_page_test.cpp): the
// detail pane with every field under its label, and its recovery.
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "export_parsers.h"
#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/contact_info_dlg.h"
#include "quarry/views/contacts_model.h"

namespace quarry {

namespace {

sieve::ContactRecord Contact(const std::string& first, const std::string& last = {}) {
  sieve::ContactRecord r;
  r.First = first;
  r.Last = last;
  return r;
}

}  // namespace

class ContactInfoDlgTest : public QObject {
  Q_OBJECT

 private slots:
  // Every field under its label in the window's language: the device's own labels and a
  // value's kind through the dictionary, a label the user typed as written.
  void DetailPaneShowsEveryFieldUnderItsLabel() {
    const struct { const char* language; std::vector<const char*> lines; } cases[] = {
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
      sieve::ContactRecord r = Contact("Kenji", "Müller");
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
    sieve::ContactRecord r = Contact("Kenji");
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

  // The page's recovery writes the checked items, hidden ones too; their formats are the
  // export tests' concern (views/contacts_export_test.cpp).
  void RecoverToWritesTheCheckedItemsAndNeverReplacesAnEarlierRecovery() {
    views::ContactsModel model;
    for (const char* name : {"Joanna", "Bob", "<script>", "Carl"}) model.AddContact(Contact(name));
    CContactInfoDlg page(&model);
    model.SetChecked(3, false);
    page.SearchText(QStringLiteral("script"));  // Joanna and Bob checked but hidden
    QCOMPARE(model.rowCount(), 1);
    QTemporaryDir dir;
    page.RecoverTo(dir.path());
    QVERIFY2(page.LastReport().Failed.isEmpty(), qPrintable(page.LastReport().Failed.join('\n')));
    const QString csvPath = QDir(dir.path()).filePath(QStringLiteral("Contacts/CSV/Contacts.csv"));
    const QByteArray csv = views::test::ReadBytes(csvPath);
    const std::vector<QStringList> rows = views::test::ReadCsv(QString::fromUtf8(csv));
    QCOMPARE(rows.size(), std::size_t{4});
    for (std::size_t k = 1; k < rows.size(); ++k) QCOMPARE(rows[k][0], model.Item(static_cast<qsizetype>(k - 1)).Name);

    page.RecoverTo(dir.path());
    QVERIFY(page.LastReport().Failed.isEmpty());
    QVERIFY(QFileInfo::exists(QDir(dir.path()).filePath(QStringLiteral("Contacts/CSV/Contacts (2).csv"))));
    QCOMPARE(views::test::ReadBytes(csvPath), csv);
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::ContactInfoDlgTest)
#include "contact_info_dlg_test.moc"
