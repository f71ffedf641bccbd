// The conversations page as the window makes it: selecting a conversation shows
// its messages as bubbles (the owner's on the right, recovered ones marked, the
// attachment named), and the deleted-only switch keeps the conversations holding
// recovered messages.
#include <QApplication>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/category_pages.h"
#include "quarry/pages/chat_page.h"
#include "quarry/views/category_table.h"
#include "quarry/views/chat_models.h"
#include "sieve/info_type.h"

namespace quarry {

class ChatPageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(AppDictionary().LoadFile(QStringLiteral(QUARRY_DIC_DIR "/en/quarry.ini"))); }

  void SelectingAConversationShowsItsBubbles() {
    const views::CategoryRow* row = views::CategoryOfType(sieve::INFO_SMS);
    QVERIFY(row != nullptr);
    const std::unique_ptr<views::CategoryModel> model = row->makeModel(views::ViewContext{});
    auto* messages = dynamic_cast<views::MessagesModel*>(model.get());
    QVERIFY(messages != nullptr);
    messages->Add({0, "+1 555", "Ann", {{0, 1, 0, "<b>hi</b>", "d1", "OUT", "", ""},
                                        {1, 0, 0, "gone", "d2", "IN", "/nowhere/ab12", "image/png"}}});
    // An edited message with a tapback: both are said under its text.
    messages->Add({0, "+1 666", "Bob", {{0, 0, 0, "live only", "d3", "IN", "", "", 1, 0, 0, "", {},
                                         {{"love", "", 1}}}}});
    std::unique_ptr<CFunctionDlg> made(MakeCategoryPage(*row, model.get()));
    auto* page = dynamic_cast<CChatPage*>(made.get());
    QVERIFY(page != nullptr);

    page->Table()->selectRow(0);
    QCOMPARE(page->DetailText().section(QLatin1Char('\n'), 0, 0), QStringLiteral("To: Ann"));
    const QList<QWidget*> bubbles = page->Bubbles();
    QCOMPARE(bubbles.size(), 2);
    QCOMPARE(bubbles[0]->objectName(), QStringLiteral("chatBubbleOut"));
    QCOMPARE(static_cast<QLabel*>(bubbles[0])->text(), QStringLiteral("<b>hi</b>"));  // shown as written, not as markup
    QCOMPARE(static_cast<QLabel*>(bubbles[0])->textFormat(), Qt::PlainText);
    QCOMPARE(bubbles[1]->objectName(), QStringLiteral("chatBubbleIn"));
    QVERIFY(bubbles[1]->property("deleted").toBool());
    QVERIFY(static_cast<QLabel*>(bubbles[1])->text().contains(QStringLiteral("ab12.png")));

    page->ShowDeletedOnly(true);
    QCOMPARE(page->Table()->model()->rowCount(), 1);
    QVERIFY(page->Bubbles().isEmpty());  // the rebuilt list has no selection
    page->Table()->selectRow(0);
    QCOMPARE(page->Bubbles().size(), 2);
    page->ShowDeletedOnly(false);
    page->Table()->selectRow(1);
    QCOMPARE(page->Bubbles().size(), 1);
    QCOMPARE(static_cast<QLabel*>(page->Bubbles()[0])->text(), QStringLiteral("live only\n(edited) [love: me]"));
  }

  // A long message shows every line: at each pane width and font size its bubble is as tall
  // as its text needs at the width it got, stays within four fifths of the pane, and the
  // pane keeps its height.
  void LongBubblesGrowToShowTheirWholeText() {
    const views::CategoryRow* row = views::CategoryOfType(sieve::INFO_SMS);
    QVERIFY(row != nullptr);
    const std::unique_ptr<views::CategoryModel> model = row->makeModel(views::ViewContext{});
    auto* messages = dynamic_cast<views::MessagesModel*>(model.get());
    QVERIFY(messages != nullptr);
    const std::string longText =
        "Price is 12,50 \u20ac, and the rest of this sentence runs on well past the width of any bubble so "
        "that it has to wrap over several lines, with a long-winded-hyphenated-word and a URL "
        "https://example.org/a/very/long/path/that/has/no/spaces/in/it/at/all/index.html at the end";
    messages->Add({0, "+1 555", "Ann", {{0, 1, 0, longText, "d1", "OUT", "", ""},
                                        {1, 0, 0, longText, "d2", "IN", "", ""},
                                        {2, 0, 0, "short", "d3", "IN", "", ""}}});
    std::unique_ptr<CFunctionDlg> made(MakeCategoryPage(*row, model.get()));
    auto* page = dynamic_cast<CChatPage*>(made.get());
    QVERIFY(page != nullptr);
    const QFont normal = page->font();
    const struct {
      int width;
      double fontScale;  // 1.5: the page as on a 150% screen
    } cases[] = {{624, 1.0}, {624, 1.5}, {1400, 1.0}, {1400, 1.5}, {900, 1.0}};
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page));
    for (const auto& c : cases) {
      const QString where = QStringLiteral("width %1 scale %2").arg(c.width).arg(c.fontScale);
      QFont font = normal;
      font.setPointSizeF(normal.pointSizeF() * c.fontScale);
      page->setFont(font);
      page->resize(c.width, 480);
      page->Table()->selectRow(0);
      QTest::qWait(50);
      QApplication::processEvents();
      auto* pane = page->findChild<QWidget*>(QStringLiteral("chatScroll"));
      QVERIFY(pane != nullptr);
      QVERIFY2(pane->height() > 480 / 3, qPrintable(where));  // not squashed by its bubbles
      const QList<QWidget*> bubbles = page->Bubbles();
      QCOMPARE(bubbles.size(), 3);
      for (QWidget* bubble : bubbles) {
        const auto* label = static_cast<QLabel*>(bubble);
        const QString what = where + QLatin1Char(' ') + bubble->objectName();
        QVERIFY2(bubble->isVisible(), qPrintable(what));
        QVERIFY2(bubble->height() >= label->heightForWidth(bubble->width()),
                 qPrintable(what + QStringLiteral(": %1 high, needs %2 at %3")
                                      .arg(bubble->height())
                                      .arg(label->heightForWidth(bubble->width()))
                                      .arg(bubble->width())));
        QVERIFY2(bubble->width() <= pane->width() * 4 / 5 + 1, qPrintable(what));
      }
      // The long ones wrap over several lines rather than running on in one.
      QVERIFY2(bubbles[0]->height() > 3 * bubbles[2]->height(), qPrintable(where));
      // The owner's on the right, the other party's on the left.
      QVERIFY2(bubbles[0]->mapTo(pane, QPoint(bubbles[0]->width(), 0)).x() > pane->width() * 3 / 4, qPrintable(where));
      QVERIFY2(bubbles[1]->mapTo(pane, QPoint(0, 0)).x() < pane->width() / 4, qPrintable(where));
    }
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::ChatPageTest)
#include "chat_page_test.moc"
