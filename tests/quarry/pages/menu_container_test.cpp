// The category list clicked with the mouse: icon clicks toggle the check,
// caption clicks only select, one entry is selected at a time, and a disabled
// entry cannot be clicked.
#include <QSignalSpy>
#include <QTest>

#include "quarry/controls/menu_container.h"

namespace quarry {

class MenuContainerTest : public QObject {
  Q_OBJECT

 private:
  struct List {
    CMenuContainer Menu;
    List() {
      Menu.AddGroup(QStringLiteral("Messages & calls"));
      Menu.AddEntry(QString(), QStringLiteral("Contacts"), 100057);
      Menu.AddEntry(QString(), QStringLiteral("Messages"), 100058);
      Menu.AddGroup(QStringLiteral("Others"));
      Menu.AddEntry(QString(), QStringLiteral("Notes"), 100071);
      Menu.resize(260, 200);
      Menu.show();
    }
    CMenuItemEx* At(int id) { return Menu.Entry(id); }
  };

  static void Click(CMenuItemEx* entry, QPoint at) { QTest::mouseClick(entry, Qt::LeftButton, {}, at); }
  static QPoint Caption(CMenuItemEx* entry) { return QPoint(entry->width() - 20, entry->height() / 2); }

 private slots:
  void IconTogglesCheckCaptionOnlySelects() {
    List l;
    for (const int id : {100057, 100058, 100071}) l.Menu.Enable(id);
    QSignalSpy spy(&l.Menu, &CMenuContainer::entryClicked);
    CMenuItemEx* contacts = l.At(100057);

    Click(contacts, contacts->IconRect().center());
    QVERIFY(contacts->isChecked());
    Click(contacts, Caption(contacts));
    QVERIFY(contacts->isChecked());  // beside the icon: check unchanged
    Click(contacts, contacts->IconRect().center());
    QVERIFY(!contacts->isChecked());
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(0).at(0).toInt(), 100057);
    QCOMPARE(spy.at(0).at(1).toBool(), true);
    QCOMPARE(spy.at(1).at(1).toBool(), true);
    QCOMPARE(spy.at(2).at(1).toBool(), false);
    QCOMPARE(l.Menu.CurrentId(), 100057);

    Click(l.At(100071), Caption(l.At(100071)));
    QCOMPARE(l.Menu.CurrentId(), 100071);
    QVERIFY(!contacts->isSelected());
  }

  void DisabledEntriesIgnoreClicksAndCountsShowAfterTheCaption() {
    List l;
    QSignalSpy spy(&l.Menu, &CMenuContainer::entryClicked);
    CMenuItemEx* messages = l.At(100058);
    Click(messages, messages->IconRect().center());
    QCOMPARE(spy.count(), 0);
    QVERIFY(!messages->isChecked());

    l.Menu.Enable(100058);
    l.Menu.AddOne(100058);
    l.Menu.AddCount(100058, 4);
    l.Menu.AddCount(424242, 9);  // no such entry: nothing changes
    l.Menu.SetChecked(100058);
    QCOMPARE(messages->DisplayText(), QStringLiteral("Messages(5)"));
    QVERIFY(l.Menu.IsChecked(100058));
    QVERIFY(!l.Menu.IsChecked(424242));

    l.Menu.ResetAll();
    QCOMPARE(messages->count(), 0);
    QVERIFY(!messages->isChecked());
    QVERIFY(messages->isEnabled());
    l.Menu.DisableAll();
    QVERIFY(!messages->isEnabled());
    QCOMPARE(l.Menu.CurrentId(), 0);
  }
};

}  // namespace quarry

QTEST_MAIN(quarry::MenuContainerTest)
#include "menu_container_test.moc"
