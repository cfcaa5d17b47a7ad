#include "ResultsTable.h"

#include "AppFixture.h"
#include "AppTests.h"
#include "CellDelegate.h"
#include "tavrin/FixPlan.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>

using namespace tavrin;
using namespace tavrin::app;
using namespace tavrin::test;
using Column = ResultsTableModel::Column;

Q_DECLARE_METATYPE(tavrin::app::FileItem)
Q_DECLARE_METATYPE(tavrin::app::Tone)

namespace {

using Reading = FileItem::Reading;
using FixState = FileItem::FixState;

LoudnessResult reading(std::optional<double> integrated, std::optional<double> truePeak,
                       std::optional<double> range = 4.2) {
    return {.integrated = integrated,
            .loudnessRange = integrated ? range : std::nullopt,
            .maxMomentary = integrated,
            .maxShortTerm = integrated ? *integrated + 2 : integrated,
            .samplePeak = truePeak ? *truePeak - 0.2 : truePeak,
            .truePeak = truePeak,
            .duration = 125,
            .sampleRate = 48000,
            .channels = 2};
}

FileItem row(Reading state, std::optional<FixState> fix = std::nullopt) {
    FileItem item{QUuid::createUuid(), "/audio/Episode 12.wav", "WAV · 24-bit · 48 kHz · stereo",
                  std::move(state),    std::move(fix),          std::nullopt};
    if (item.fix)
        item.fixSpecID = DeliverySpec::ebuR128().id;
    if (std::holds_alternative<Reading::Waiting>(item.reading.value) ||
        std::holds_alternative<Reading::Failed>(item.reading.value))
        item.format.clear();
    return item;
}

FileItem measured(std::optional<double> integrated, std::optional<double> truePeak,
                  std::optional<FixState> fix = std::nullopt) {
    return row({Reading::Measured{reading(integrated, truePeak)}}, std::move(fix));
}

const LoudnessResult loudCopy = reading(-21.9, -2.0);
const LoudnessResult goodCopy = reading(-23.0, -4.1);

ResultsTableModel::Cell cellOf(const FileItem& item, Column column) {
    return ResultsTableModel::cell(item, DeliverySpec::ebuR128(), column);
}

} // namespace

/// The results table: what each cell says and how, for every state a row can be in, and the view
/// driven by real clicks over a model measuring and fixing real files.
class ResultsTableTest : public QObject {
    Q_OBJECT

private slots:
    void cellsShowEveryState_data() {
        QTest::addColumn<FileItem>("item");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Tone>("tone");
        QTest::addColumn<bool>("semibold");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QString>("spoken");

        const auto secondary = Tone::secondary, primary = Tone::primary;
        const FileItem failing = measured(-20.0, 0.3);
        const FileItem passing = measured(-23.0, -3.0);
        const FileItem silent = measured(std::nullopt, std::nullopt);
        const QString tooLoud = "Fail: 3.0 LU too loud; true peak +0.3 dBTP is over −1.0 dBTP";

        QTest::addRow("waiting") << row({Reading::Waiting{}}) << int(Column::result) << "Waiting"
                                 << secondary << false << ""
                                 << "Waiting";
        QTest::addRow("waiting, no number")
            << row({Reading::Waiting{}}) << int(Column::truePeak) << "—" << secondary << false << ""
            << "no reading";
        QTest::addRow("waiting, no fix")
            << row({Reading::Waiting{}}) << int(Column::fix) << "" << primary << false << ""
            << "";
        QTest::addRow("measuring truncates")
            << row({Reading::Measuring{0.999}}) << int(Column::result) << "99%" << secondary
            << false << ""
            << "Measuring, 99 percent";
        QTest::addRow("can't read")
            << row({Reading::Failed{"The file isn’t audio Tavrin can read."}})
            << int(Column::result) << "Can’t read" << Tone::caution << false
            << "The file isn’t audio Tavrin can read."
            << "Can’t read: The file isn’t audio Tavrin can read.";
        QTest::addRow("pass") << passing << int(Column::result) << "Pass" << Tone::pass << true
                              << "Pass"
                              << "Pass";
        QTest::addRow("fail") << failing << int(Column::result) << "Fail" << Tone::fail << true
                              << tooLoud << tooLoud;
        QTest::addRow("no reading") << silent << int(Column::result) << "No reading" << secondary
                                    << true << "No reading: The file is silent."
                                    << "No reading: The file is silent.";
        QTest::addRow("loudness out of spec")
            << failing << int(Column::integrated) << "−20.0" << Tone::fail << true << ""
            << "−20.0 LUFS, out of spec";
        QTest::addRow("difference signed")
            << failing << int(Column::difference) << "+3.0" << Tone::fail << true << ""
            << "+3.0 LU, out of spec";
        QTest::addRow("true peak signed")
            << failing << int(Column::truePeak) << "+0.3" << Tone::fail << true << ""
            << "+0.3 dBTP, out of spec";
        QTest::addRow("range never signed")
            << failing << int(Column::range) << "4.2" << primary << false << ""
            << "4.2 LU";
        QTest::addRow("negative uses minus sign")
            << passing << int(Column::truePeak) << "−3.0" << primary << false << ""
            << "−3.0 dBTP";
        QTest::addRow("absent is never out of spec")
            << silent << int(Column::integrated) << "—" << secondary << false << ""
            << "no reading";
        QTest::addRow("passing row has no fix")
            << passing << int(Column::fix) << "" << primary << false << ""
            << "";
        QTest::addRow("plan") << failing << int(Column::fix) << "−3.0 dB → −23.0 LUFS" << secondary
                              << false
                              << "A fix would apply this gain and write a new file; the original "
                                 "stays as it is."
                              << "−3.0 dB → −23.0 LUFS";
        QTest::addRow("plan refused")
            << measured(-30.0, -2.0) << int(Column::fix) << "Can't fix with gain alone" << secondary
            << false
            << QString::fromStdString(
                   std::get<FixPlan::Refused>(
                       FixPlan::make(reading(-30.0, -2.0), DeliverySpec::ebuR128()).value)
                       .message)
            << "Can't fix with gain alone";
        QTest::addRow("writing") << measured(-20.0, 0.3, FixState{FixState::Writing{}})
                                 << int(Column::fix) << "Writing…" << secondary << false << ""
                                 << "Writing…";
        QTest::addRow("fixed copy passes")
            << measured(-20.0, 0.3,
                        FixState{FixState::Done{"/audio/Episode 12 (EBU R 128).wav", goodCopy}})
            << int(Column::fix) << "−23.0 LUFS, −4.1 dBTP" << primary << false
            << "Wrote Episode 12 (EBU R 128).wav and measured it again."
            << "Fixed copy Episode 12 (EBU R 128).wav: −23.0 LUFS, true peak −4.1 dBTP, passes";
        QTest::addRow("fixed copy fails, with note")
            << measured(-20.0, 0.3,
                        FixState{FixState::Done{"/audio/Episode 12 (EBU R 128).wav", loudCopy,
                                                "It stops 1.1 LU short of the target."}})
            << int(Column::fix) << "−21.9 LUFS, −2.0 dBTP" << primary << false
            << "Wrote Episode 12 (EBU R 128).wav and measured it again. It stops 1.1 LU short "
               "of the target."
            << "Fixed copy Episode 12 (EBU R 128).wav: −21.9 LUFS, true peak −2.0 dBTP, fails";
        QTest::addRow("refused") << measured(-30.0, -2.0, FixState{FixState::Refused{"Too peaky."}})
                                 << int(Column::fix) << "Needs a limiter" << Tone::caution << false
                                 << "Too peaky."
                                 << "Not fixed: Too peaky.";
        QTest::addRow("not written")
            << measured(-20.0, 0.3, FixState{FixState::Failed{"The disk is full."}})
            << int(Column::fix) << "Not written" << Tone::caution << false << "The disk is full."
            << "Not written: The disk is full.";
        QTest::addRow("already passes")
            << measured(-20.0, 0.3, FixState{FixState::AlreadyPasses{}}) << int(Column::fix)
            << "Already passes" << secondary << false << ""
            << "Already passes";
    }

    void cellsShowEveryState() {
        QFETCH(FileItem, item);
        QFETCH(int, column);
        const auto cell = cellOf(item, Column(column));
        QTEST(cell.text, "text");
        QTEST(cell.tone, "tone");
        QTEST(cell.semibold, "semibold");
        QTEST(cell.toolTip, "toolTip");
        QFETCH(QString, spoken);
        QCOMPARE(cell.accessibleText.isEmpty() ? cell.text : cell.accessibleText, spoken);
    }

    void fixedCopyIconSaysWhetherItPasses() {
        const auto passes =
            cellOf(measured(-20.0, 0.3, FixState{FixState::Done{"/a (EBU R 128).wav", goodCopy}}),
                   Column::fix);
        QCOMPARE(passes.symbol, Symbol::checkmarkCircle);
        QCOMPARE(passes.symbolTone, Tone::pass);
        QVERIFY(passes.revealButton);
        QCOMPARE(passes.revealToolTip, "Show a (EBU R 128).wav in File Manager");
        const auto fails =
            cellOf(measured(-20.0, 0.3, FixState{FixState::Done{"/a (EBU R 128).wav", loudCopy}}),
                   Column::fix);
        QCOMPARE(fails.symbol, Symbol::xmarkOctagon);
        QCOMPARE(fails.symbolTone, Tone::fail);
    }

    void fileCellShowsNameFormatAndDuration() {
        const auto cell = cellOf(measured(-23.0, -3.0), Column::file);
        QCOMPARE(cell.text, "Episode 12.wav");
        QCOMPARE(cell.caption, "WAV · 24-bit · 48 kHz · stereo · 2:05");
        QCOMPARE(cell.toolTip, "/audio/Episode 12.wav");
        QCOMPARE(cellOf(row({Reading::Waiting{}}), Column::file).caption, "");
    }

    void statusColoursFollowThePalette() {
        QPalette light(Qt::black, QColor(236, 236, 236), Qt::white, Qt::darkGray, Qt::gray,
                       Qt::black, Qt::white);
        QPalette dark(Qt::white, QColor(40, 40, 40), Qt::gray, Qt::black, Qt::darkGray, Qt::white,
                      QColor(30, 30, 30));
        QCOMPARE(Theme::colour(Tone::pass, light), QColor::fromRgbF(0.10f, 0.55f, 0.25f));
        QCOMPARE(Theme::colour(Tone::fail, dark), QColor::fromRgbF(1.00f, 0.45f, 0.42f));
        QCOMPARE(Theme::colour(Tone::caution, dark), QColor::fromRgbF(1.00f, 0.75f, 0.30f));
    }

    void viewFollowsMeasuringAndFixing() {
        AppFixture f;
        ResultsTable table(f.model);
        QAbstractItemModelTester tester(&table.tableModel(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changed(&table.tableModel(), &QAbstractItemModel::dataChanged);
        QVERIFY(f.addAndMeasure({f.tone("quiet.wav", -26), f.tone("good.wav", -23)}));
        for (const QList<QVariant>& signal : changed) // one row at a time, every column
            QCOMPARE(signal[0].toModelIndex().row(), signal[1].toModelIndex().row());

        // What a screen reader is given for a cell.
        QAccessibleInterface* cells = QAccessible::queryAccessibleInterface(&table);
        QAccessibleInterface* loudness = cells->tableInterface()->cellAt(0, Column::integrated);
        QCOMPARE(loudness->text(QAccessible::Name), "−26.0 LUFS, out of spec");
        QCOMPARE(cells->tableInterface()->cellAt(0, Column::result)->text(QAccessible::Description),
                 "Fail: 3.0 LU too quiet");

        const QModelIndex fix = table.tableModel().index(0, Column::fix);
        QCOMPARE(fix.data().toString(), "+3.0 dB → −23.0 LUFS");
        QVERIFY(f.fixAndWait());
        f.model.dismissAlert();
        QCOMPARE(fix.data().toString(), "−23.0 LUFS, −23.0 dBTP");
        f.model.setSpecID(DeliverySpec::applePodcasts().id);
        QCOMPARE(fix.data().toString(), "+10.0 dB → −16.0 LUFS"); // the plan, not the old copy
        f.model.setSpecID(DeliverySpec::ebuR128().id);
        QCOMPARE(fix.data().toString(), "−23.0 LUFS, −23.0 dBTP");

        // The magnifier beside the copy reveals the copy; a double-click elsewhere reveals the
        // row's file, here the copy too, since the row has one for this preset.
        table.resize(1200, 400);
        table.show();
        QVERIFY(QTest::qWaitForWindowExposed(&table));
        const QRect rect = table.visualRect(fix);
        const auto parts = CellDelegate::layout(rect, table.tableModel().cell(fix), table.font());
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, parts.button.center());
        QCOMPARE(f.desktop.revealed.size(), 1u);
        QVERIFY(f.desktop.revealed[0][0].filename() == "quiet (EBU R 128).wav");
        const QModelIndex good = table.tableModel().index(1, Column::file);
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.visualRect(good).center());
        QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, table.visualRect(good).center());
        QCOMPARE(f.desktop.revealed.back(), std::vector{f.path("good.wav")});
    }

    void selectionAndContextMenu() {
        AppFixture f;
        ResultsTable table(f.model);
        table.resize(1200, 400);
        table.show();
        QVERIFY(QTest::qWaitForWindowExposed(&table));
        QVERIFY(f.addAndMeasure({f.tone("a.wav", -20), f.tone("b.wav", -21), f.tone("c.wav", -23.2),
                                 f.tone("d.wav", -22)}));
        const auto center = [&](int row) {
            return table.visualRect(table.tableModel().index(row, Column::file)).center();
        };
        const auto id = [&](int row) { return f.model.items()[std::size_t(row)].id; };

        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, center(0));
        QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::ShiftModifier, center(2));
        QCOMPARE(f.model.selection(), (QSet{id(0), id(1), id(2)}));
        f.model.setSelection({id(3)});
        QCOMPARE(table.selectionModel()->selectedRows().size(), 1);
        QCOMPARE(table.selectionModel()->selectedRows()[0].row(), 3);

        const auto menuAt = [&](int row) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, center(row),
                                    table.viewport()->mapToGlobal(center(row)));
            QApplication::sendEvent(table.viewport(), &event);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            return menu;
        };
        f.model.setSelection({id(0), id(1), id(2)});
        QMenu* menu = menuAt(1);
        QVERIFY(menu);
        QCOMPARE(menu->actions()[0]->text(), "Fix These Files");
        menu->close();
        menu = menuAt(3); // outside the selection: the clicked row alone
        QCOMPARE(menu->actions()[0]->text(), "Fix This File");
        QCOMPARE(menu->actions()[1]->text(), "Show in File Manager");
        menu->actions()[3]->trigger(); // Remove from List
        menu->close();
        QCOMPARE(f.model.items().size(), 3u);
        QCOMPARE(f.model.selection().size(), 3);

        menu = menuAt(0);
        menu->actions()[0]->trigger(); // fixes the failing rows of the selection: a, b (c passes)
        menu->close();
        QVERIFY(QTest::qWaitFor([&] { return !f.model.fixing(); }, 20000));
        QVERIFY(f.model.items()[0].fix && f.model.items()[1].fix && !f.model.items()[2].fix);

        f.model.clearList();
        QVERIFY(table.selectionModel()->selectedRows().isEmpty());
        QContextMenuEvent empty(QContextMenuEvent::Mouse, {10, 10},
                                table.viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(table.viewport(), &empty);
        menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        for (QAction* action : menu->actions())
            QVERIFY(!action->isEnabled() || action->isSeparator());
        menu->close();
    }
};

TAVRIN_APP_TEST(ResultsTableTest);
#include "ResultsTableTest.moc"
