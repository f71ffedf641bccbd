// The conversations page as the window makes it: selecting a conversation shows
// its messages as bubbles (the owner's on the right, recovered ones marked, the
// attachment named), and the deleted-only switch keeps the conversations holding
// recovered messages.
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
};

}  // namespace quarry

QTEST_MAIN(quarry::ChatPageTest)
#include "chat_page_test.moc"
