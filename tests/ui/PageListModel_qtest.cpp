// The icon list's model follows the page list, labels sort linguistically, and the icon view
// draws every label as a view that measures each one would.
#include <QAbstractItemModelTester>
#include <QPixmap>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QtTest>

#include "core/PageList.h"
#include "ui/IconListView.h"
#include "ui/LabelCollator.h"
#include "ui/PageListModel.h"

using namespace vantrel;

namespace {

QStringList labels(const QAbstractItemModel& model) {
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row) result << model.index(row, 0).data().toString();
    return result;
}

PageEntry loaded(std::u16string label, int status) {
    PageEntry entry;
    entry.label = std::move(label);
    entry.status = static_cast<PageStatus>(status);
    return entry;
}

}  // namespace

class PageListModelTest : public QObject {
    Q_OBJECT
  private slots:
    void collatorPutsSmallAlphaBeforeCapitalBetaInTheCLocale();
    void modelPassesTheTesterThroughEveryKindOfChange();
    void rowsShowLabelAndStatusPicture();
    void insertAndRemoveSignalTheirRows();
    void statusChangeUpdatesTheRowWithoutReordering();
    void sortingKeepsTheSelectionOnItsEntry();
    void iconViewDrawsLabelsOfEveryLengthAsMeasured();
};

void PageListModelTest::collatorPutsSmallAlphaBeforeCapitalBetaInTheCLocale() {
    QCOMPARE(LabelCollator::effectiveLocale(QLocale::c()).language(), QLocale::English);
    QCOMPARE(LabelCollator::effectiveLocale(QLocale(QLocale::German)).language(), QLocale::German);

    LabelCollator collator(QLocale::c());
    QVERIFY(collator.compare(u"alpha", u"Beta") < 0);
    QVERIFY(collator.compare(u"Beta", u"alpha") > 0);
    // Case decides only between labels that are otherwise equal.
    QVERIFY(collator.compare(u"alpha", u"Alpha") != 0);
    QCOMPARE(collator.compare(u"Same", u"Same"), 0);

    // The same order whether the collator is made at once or at the first comparison.
    for (const LabelCompare& compare : {collator.function(), LabelCollator::lazyFunction(QLocale::c())}) {
        PageList list(compare);
        list.setSorted(true);
        for (const char16_t* label : {u"Zeta", u"beta", u"Beta", u"alpha", u"\u00e9lan", u"Alpha"})
            list.add(label, u"http://x", 2);
        QStringList order;
        for (const PageEntry& entry : list.entries()) order << QString::fromStdU16String(entry.label);
        QCOMPARE(order,
                 (QStringList{"alpha", "Alpha", "beta", "Beta", QString::fromUtf8("\u00e9lan"), "Zeta"}));
    }
}

void PageListModelTest::modelPassesTheTesterThroughEveryKindOfChange() {
    PageList list(LabelCollator(QLocale::c()).function());
    PageListModel model(list, 32);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    EntryId b = list.add(u"Beta", u"http://b", 2);
    EntryId a = list.add(u"alpha", u"http://a", 2);
    list.insertLoaded(loaded(u"Gamma", 7));
    list.setSorted(true);
    list.add(u"Delta", u"http://d", 1);
    list.edit(a, u"Omega", u"http://a2", 3, false, false);
    list.setStatus(b, PageStatus::Online);
    list.recheckAll();
    list.remove(b);
    list.setSorted(false);
    list.add(u"Aaa", u"http://e", 0);
    QCOMPARE(labels(model), (QStringList{"Delta", "Gamma", "Omega", "Aaa"}));
    while (!list.empty()) list.remove(list.at(0).id);
    QCOMPARE(model.rowCount(), 0);
}

void PageListModelTest::rowsShowLabelAndStatusPicture() {
    PageList list;
    PageListModel model(list, 32);
    for (int status : {0, 1, 2, 3, 4, -1, 7}) list.insertLoaded(loaded(u"Page", status));

    for (int row = 0; row < 4; ++row) {
        const QVariant picture = model.index(row).data(Qt::DecorationRole);
        QVERIFY2(picture.canConvert<QPixmap>(), qPrintable(QString::number(row)));
        const QPixmap pixmap = picture.value<QPixmap>();
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.deviceIndependentSize().toSize(), QSize(32, 32));
    }
    // A status with no image of its own shows no picture: a blank one of the same size.
    QImage blank(32, 32, QImage::Format_ARGB32_Premultiplied);
    blank.fill(Qt::transparent);
    for (int row = 4; row < 7; ++row) {
        const QPixmap pixmap = model.index(row).data(Qt::DecorationRole).value<QPixmap>();
        QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), blank);
    }
    QVERIFY(model.index(0).data(Qt::DecorationRole).value<QPixmap>().toImage() != blank);

    const QModelIndex first = model.index(0);
    QCOMPARE(first.data(Qt::DisplayRole).toString(), QStringLiteral("Page"));
    QCOMPARE(first.data(Qt::ToolTipRole).toString(),
             QStringLiteral("Page\n") + QString::fromStdU16String(list.at(0).url()));
    QCOMPARE(first.data(PageListModel::StatusRole).toInt(), 0);
    QCOMPARE(first.data(PageListModel::IdRole).value<quint64>(), list.at(0).id);
    QCOMPARE(model.idAt(first), list.at(0).id);
    QCOMPARE(model.indexOf(list.at(6).id).row(), 6);
    QVERIFY(!model.indexOf(12345).isValid());
    QCOMPARE(model.idAt(QModelIndex()), EntryId(0));
    // Read-only: captions cannot be edited in place.
    QVERIFY(!(model.flags(first) & Qt::ItemIsEditable));
    QVERIFY(model.flags(first) & Qt::ItemIsSelectable);
}

void PageListModelTest::insertAndRemoveSignalTheirRows() {
    PageList list(LabelCollator(QLocale::c()).function());
    PageListModel model(list, 32);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    list.add(u"Beta", u"http://b", 2);
    list.setSorted(true);
    EntryId alpha = list.add(u"alpha", u"http://a", 2);
    QCOMPARE(inserted.count(), 2);
    // With sorting on the new row goes straight to its place.
    QCOMPARE(inserted.at(1).at(1).toInt(), 0);
    QCOMPARE(inserted.at(1).at(2).toInt(), 0);
    QCOMPARE(labels(model), (QStringList{"alpha", "Beta"}));

    list.remove(alpha);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 0);
    QCOMPARE(labels(model), QStringList{"Beta"});
}

void PageListModelTest::statusChangeUpdatesTheRowWithoutReordering() {
    PageList list(LabelCollator(QLocale::c()).function());
    PageListModel model(list, 32);
    list.setSorted(true);
    list.add(u"b", u"http://b", 2);
    EntryId c = list.add(u"c", u"http://c", 2);
    list.add(u"a", u"http://a", 2);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);

    list.setStatus(c, PageStatus::Online);
    list.edit(c, u"c", u"http://c", 4, false, false);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 2);
    QCOMPARE(model.index(2).data(PageListModel::StatusRole).toInt(), 0);
    QCOMPARE(layout.count(), 0);
    QCOMPARE(labels(model), (QStringList{"a", "b", "c"}));
}

void PageListModelTest::sortingKeepsTheSelectionOnItsEntry() {
    PageList list(LabelCollator(QLocale::c()).function());
    PageListModel model(list, 32);
    list.add(u"Beta", u"http://b", 2);
    EntryId alpha = list.add(u"alpha", u"http://a", 2);
    QPersistentModelIndex selected = model.index(1);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);

    list.setSorted(true);
    QCOMPARE(layout.count(), 1);
    QCOMPARE(selected.row(), 0);
    QCOMPARE(model.idAt(selected), alpha);

    // Renaming moves the entry to its new place, and the persistent index goes with it.
    list.edit(alpha, u"Zulu", u"http://a", 2, false, false);
    QCOMPARE(layout.count(), 2);
    QCOMPARE(selected.row(), 1);
    QCOMPARE(labels(model), (QStringList{"Beta", "Zulu"}));
}

void PageListModelTest::iconViewDrawsLabelsOfEveryLengthAsMeasured() {
    // The view lays its items out without measuring them; a view that measures every label is the
    // reference. Labels of one, two and three lines, one elided after three, and a change of
    // status and of label after the first layout.
    PageList list;
    PageListModel model(list, 32);
    for (const char16_t* label : {u"A", u"Two words here", u"Three lines of label text",
                                  u"A much longer label that wraps onto more than three lines", u"x"})
        list.add(label, u"http://a", 2);
    IconListView fast(1.0);
    IconListView measuring(1.0);
    measuring.setItemDelegate(new QStyledItemDelegate(&measuring));
    measuring.setUniformItemSizes(false);
    for (IconListView* view : {&fast, &measuring}) {
        view->resize(400, 200);
        view->setModel(&model);
        view->selectionModel()->setCurrentIndex(model.index(2), QItemSelectionModel::ClearAndSelect);
        view->show();
    }
    QVERIFY(QTest::qWaitForWindowExposed(&fast) && QTest::qWaitForWindowExposed(&measuring));
    const auto compare = [&](const char* when) {
        for (int row = 0; row < model.rowCount(); ++row)
            QVERIFY2(fast.visualRect(model.index(row)) == measuring.visualRect(model.index(row)),
                     qPrintable(QStringLiteral("%1, row %2").arg(when).arg(row)));
        QVERIFY2(fast.viewport()->grab().toImage() == measuring.viewport()->grab().toImage(), when);
    };
    QTRY_VERIFY(measuring.visualRect(model.index(4)).isValid());
    compare("first layout");
    if (QTest::currentTestFailed()) return;
    // One line is shorter than two, the elided label fills its cell.
    QVERIFY(fast.visualRect(model.index(0)).height() < fast.visualRect(model.index(1)).height());
    QCOMPARE(fast.visualRect(model.index(3)).height(), IconListView::kGridHeight);
    // Under a one-line label its cell is empty space.
    const QRect first = fast.visualRect(model.index(0));
    QVERIFY(!fast.indexAt(QPoint(first.center().x(), first.bottom() + 5)).isValid());
    QCOMPARE(fast.indexAt(first.center()), model.index(0));

    list.setStatus(list.at(0).id, PageStatus::Online);
    list.edit(list.at(1).id, u"Now a label long enough for three lines", u"http://a", 2, false, false);
    list.remove(list.at(2).id);
    QTest::qWait(50);
    compare("after changes");
}

QTEST_MAIN(PageListModelTest)
#include "PageListModel_qtest.moc"
