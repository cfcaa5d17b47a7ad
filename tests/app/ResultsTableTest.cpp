#include "ResultsTable.h"

#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "CellDelegate.h"
#include "Player.h"
#include "tavrin/workflow/Workflow.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QToolTip>

using namespace tavrin;
using namespace tavrin::app;
using namespace tavrin::test;
using Column = ResultsTableModel::Column;

Q_DECLARE_METATYPE(tavrin::app::FileItem)
Q_DECLARE_METATYPE(tavrin::app::Tone)
Q_DECLARE_METATYPE(Column)

namespace {

using Reading = FileItem::Reading;
using FixState = FileItem::FixState;

LoudnessResult reading(std::optional<double> integrated, std::optional<double> truePeak) {
    return {.integrated = integrated,
            .loudnessRange = integrated ? std::optional(4.2) : std::nullopt,
            .truePeak = truePeak,
            .duration = 125,
            .sampleRate = 48000,
            .channels = 2};
}

FileItem row(Reading reading) {
    const bool measured = std::holds_alternative<Reading::Measured>(reading.value);
    return {QUuid::createUuid(), "/audio/Episode 12.wav",
            measured ? "WAV · 24-bit · 48 kHz · stereo" : "", std::move(reading)};
}

FileItem measured(std::optional<double> integrated, std::optional<double> truePeak) {
    return row({Reading::Measured{reading(integrated, truePeak)}});
}

/// A failing row whose fix, made for the preset shown, is `fix`.
FileItem failingWith(decltype(FixState::value) fix) {
    FileItem item = measured(-20.0, 0.3);
    item.fixes.insert_or_assign(DeliverySpec::ebuR128().id, FixState{std::move(fix)});
    return item;
}

FileItem fixed(const LoudnessResult& copy, std::optional<std::string> note = std::nullopt) {
    return failingWith(FixState::Done{"/audio/Episode 12 (EBU R 128).wav", copy, std::move(note)});
}

const LoudnessResult loudCopy = reading(-21.9, -2.0);
const LoudnessResult goodCopy = reading(-23.0, -4.1);
const Finding cutOff = Findings::cutOff(6.9, 8);

/// `item`, measured, cut off.
FileItem damaged(FileItem item) {
    std::get<Reading::Measured>(item.reading.value).findings = {cutOff};
    return item;
}

/// A copy Tavrin made of "Episode 11.wav", in which it found nothing.
FileItem copyOfCleanOriginal() {
    FileItem item = measured(-23.0, -3.0);
    Provenance& record = std::get<Reading::Measured>(item.reading.value).provenance.emplace();
    record.original = "Episode 11.wav";
    return item;
}

ResultsTableModel::Cell cellOf(const FileItem& item, Column column) {
    return ResultsTableModel::cell(item, DeliverySpec::ebuR128(), DamagePolicy::fail, column);
}

/// The context menu of `table` opened by a right-click at `at`, in the viewport.
QMenu* contextMenuAt(ResultsTable& table, QPoint at) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table.viewport()->mapToGlobal(at));
    QApplication::sendEvent(table.viewport(), &event);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

/// The verdict's own sentence for a measured row.
QString summary(const FileItem& item) {
    return qs(
        Verdict::make(*item.result(), DeliverySpec::ebuR128(), item.findings(), DamagePolicy::fail)
            .summary());
}

} // namespace

/// The results table: what each cell says and how, for every state a row can be in, and the view
/// driven by real clicks over a model measuring and fixing real files.
class ResultsTableTest : public QObject {
    Q_OBJECT

private slots:
    void cellsShowEveryState_data() {
        QTest::addColumn<FileItem>("item");
        QTest::addColumn<Column>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Tone>("tone");
        QTest::addColumn<bool>("semibold");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QString>("spoken"); // empty: the text itself

        const auto secondary = Tone::secondary, primary = Tone::primary;
        const FileItem failing = measured(-20.0, 0.3);
        const FileItem passing = measured(-23.0, -3.0);
        const FileItem silent = measured(std::nullopt, std::nullopt);
        const QString unreadable = "The file isn’t audio Tavrin can read.";
        const QString wrote = "Wrote Episode 12 (EBU R 128).wav and measured it again.", none;

        QTest::addRow("waiting") << row({Reading::Waiting{}}) << Column::result << "Waiting"
                                 << secondary << false << none << none;
        QTest::addRow("waiting, no number") << row({Reading::Waiting{}}) << Column::truePeak << "—"
                                            << secondary << false << none << "no reading";
        QTest::addRow("measuring truncates")
            << row({Reading::Measuring{0.999}}) << Column::result << "99%" << secondary << false
            << none << "Measuring, 99 percent";
        QTest::addRow("can't read")
            << row({Reading::Failed{unreadable.toStdString()}}) << Column::result << "Can’t read"
            << Tone::caution << false << unreadable << "Can’t read: " + unreadable;
        QTest::addRow("pass") << passing << Column::result << "Pass" << Tone::pass << true
                              << summary(passing) << summary(passing);
        QTest::addRow("fail") << failing << Column::result << "Fail" << Tone::fail << true
                              << summary(failing) << summary(failing);
        QTest::addRow("no reading") << silent << Column::result << "No reading" << secondary << true
                                    << summary(silent) << summary(silent);
        QTest::addRow("loudness out of spec")
            << failing << Column::integrated << "−20.0" << Tone::fail << true << none
            << "−20.0 LUFS, out of spec";
        QTest::addRow("difference signed") << failing << Column::difference << "+3.0" << Tone::fail
                                           << true << none << "+3.0 LU, out of spec";
        QTest::addRow("true peak signed") << failing << Column::truePeak << "+0.3" << Tone::fail
                                          << true << none << "+0.3 dBTP, out of spec";
        QTest::addRow("range never signed")
            << failing << Column::range << "4.2" << primary << false << none << "4.2 LU";
        QTest::addRow("absent is never out of spec")
            << silent << Column::integrated << "—" << secondary << false << none << "no reading";
        QTest::addRow("passing row has no fix")
            << passing << Column::fix << none << primary << false << none << none;
        QTest::addRow("plan") << failing << Column::fix << "−3.0 dB → −23.0 LUFS" << secondary
                              << false
                              << "A fix would apply this gain and write a new file; the original "
                                 "stays as it is."
                              << none;
        QTest::addRow("queued") << failingWith(FixState::Queued{}) << Column::fix
                                << "Waiting to be fixed" << secondary << false << none << none;
        QTest::addRow("writing") << failingWith(FixState::Writing{}) << Column::fix << "Writing…"
                                 << secondary << false << none << none;
        QTest::addRow("fixed copy passes")
            << fixed(goodCopy) << Column::fix << "−23.0 LUFS, −4.1 dBTP" << primary << false
            << wrote
            << "Fixed copy Episode 12 (EBU R 128).wav: −23.0 LUFS, true peak −4.1 dBTP, passes";
        QTest::addRow("fixed copy fails, with note")
            << fixed(loudCopy, "It stops 1.1 LU short.") << Column::fix << "−21.9 LUFS, −2.0 dBTP"
            << primary << false << wrote + " It stops 1.1 LU short."
            << "Fixed copy Episode 12 (EBU R 128).wav: −21.9 LUFS, true peak −2.0 dBTP, fails";
        QTest::addRow("refused") << failingWith(FixState::Refused{"Too peaky."}) << Column::fix
                                 << "Needs a limiter" << Tone::caution << false << "Too peaky."
                                 << "Not fixed: Too peaky.";
        QTest::addRow("not written")
            << failingWith(FixState::Failed{"The disk is full."}) << Column::fix << "Not written"
            << Tone::caution << false << "The disk is full."
            << "Not written: The disk is full.";
        const QString damage = "Fail: the audio is damaged (cut off at 0:01)";
        QTest::addRow("damage fails")
            << damaged(passing) << Column::result << "Fail" << Tone::fail << true
            << damage + "\n\n" + qs(cutOff.text) << damage + ". Damage: " + qs(cutOff.text);
        QTest::addRow("already passes") << failingWith(FixState::AlreadyPasses{}) << Column::fix
                                        << "Already passes" << secondary << false << none << none;
    }

    void cellsShowEveryState() {
        QFETCH(FileItem, item);
        QFETCH(Column, column);
        QFETCH(QString, spoken);
        const auto cell = cellOf(item, column);
        QTEST(cell.text, "text");
        QTEST(cell.tone, "tone");
        QTEST(cell.semibold, "semibold");
        QTEST(cell.toolTip, "toolTip");
        QCOMPARE(cell.accessibleText.isEmpty() ? cell.text : cell.accessibleText,
                 spoken.isEmpty() ? cell.text : spoken);
    }

    void fixedCopyIconSaysWhetherItPasses() {
        QCOMPARE(cellOf(fixed(goodCopy), Column::fix).symbolTone, Tone::pass);
        QCOMPARE(cellOf(fixed(loudCopy), Column::fix).symbolTone, Tone::fail);
    }

    void fileCellShowsNameFormatAndDuration() {
        const auto cell = cellOf(measured(-23.0, -3.0), Column::file);
        QCOMPARE(cell.text, "Episode 12.wav");
        QCOMPARE(cell.caption, "WAV · 24-bit · 48 kHz · stereo · 2:05");
        QCOMPARE(cell.toolTip, "/audio/Episode 12.wav");
        QCOMPARE(cellOf(row({Reading::Waiting{}}), Column::file).caption, "");
        // Said over the line naming a copy's original, when nothing was found in the original.
        QCOMPARE(cellOf(copyOfCleanOriginal(), Column::file).captionToolTip,
                 "No damage was found in the original.");
    }

    void viewFollowsMeasuringAndFixing() {
        AppFixture f;
        ResultsTable table(f.model);
        QAbstractItemModelTester tester(&table.tableModel(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester viewTester(&table.view(),
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
                 summary(f.model.items()[0]));

        const QModelIndex fix = table.model()->index(0, Column::fix);
        QCOMPARE(fix.data().toString(), "+3.0 dB → −23.0 LUFS");
        f.model.fixFiles();
        QVERIFY(f.settled());
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
        const auto parts = CellDelegate::layout(
            table.visualRect(fix), table.tableModel().cell(table.view().mapToSource(fix)),
            table.font());
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, parts.button.center());
        QCOMPARE(f.desktop.revealed.size(), 1u);
        QVERIFY(f.desktop.revealed[0][0].filename() == "quiet (EBU R 128).wav");
        const QModelIndex good = table.model()->index(1, Column::file);
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
            return table.visualRect(table.model()->index(row, Column::file)).center();
        };
        const auto id = [&](int row) { return f.model.items()[std::size_t(row)].id; };

        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, center(0));
        QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::ShiftModifier, center(2));
        QCOMPARE(f.model.selection(), (QSet{id(0), id(1), id(2)}));
        f.model.setSelection({id(3)});
        QCOMPARE(table.selectionModel()->selectedRows(), {table.model()->index(3, 0)});

        const auto menuAt = [&](QPoint at) { return contextMenuAt(table, at); };
        f.model.setSelection({id(0), id(1), id(2)});
        QMenu* menu = menuAt(center(1));
        QVERIFY(menu);
        QCOMPARE(menu->actions()[0]->text(), "Fix These Files");
        menu->close();
        menu = menuAt(center(3)); // outside the selection: the clicked row alone
        QCOMPARE(menu->actions()[0]->text(), "Fix This File");
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << action->text();
        // A row alone plays from two seconds before its peak, where there is an output.
        QCOMPARE(texts.contains("Play from 0:00 (true peak)"), Player::outputAvailable());
        menu->actions()[int(texts.indexOf("Remove from List"))]->trigger();
        menu->close();
        QCOMPARE(f.model.items().size(), 3u);
        QCOMPARE(f.model.selection().size(), 3);

        menu = menuAt(center(0));
        menu->actions()[0]->trigger(); // fixes the failing rows of the selection: a, b (c passes)
        menu->close();
        QVERIFY(f.settled());
        const auto fixed = [&f](int row) { return f.model.items()[std::size_t(row)].fixes.size(); };
        QCOMPARE((std::array{fixed(0), fixed(1), fixed(2)}), (std::array<std::size_t, 3>{1, 1, 0}));

        f.model.clearList();
        QVERIFY(table.selectionModel()->selectedRows().isEmpty());
        menu = menuAt({10, 10});
        for (QAction* action : menu->actions())
            QVERIFY(!action->isEnabled() || action->isSeparator());
        menu->close();
    }

    /// Fix with Limiter from the context menu, after Fix: the row gain alone can't fix becomes a
    /// limited copy, one past the limiter's reach is refused with how much it needs, and a row
    /// gain alone fixed keeps its copy.
    void limiterTakesWhatGainCant() {
        AppFixture f;
        ResultsTable table(f.model);
        table.resize(1200, 400);
        table.show();
        QVERIFY(QTest::qWaitForWindowExposed(&table));
        QVERIFY(f.addAndMeasure({f.tone("Episode 12.wav", -30, 2, -3),
                                 f.tone("far.wav", -40, 2, -0.5), f.tone("quiet.wav", -30, 2)}));
        f.model.fixFiles();
        QVERIFY(f.settled());
        f.model.dismissAlert(); // the gain-only run’s summary
        QSet<QUuid> all;
        for (const FileItem& item : f.model.items())
            all.insert(item.id);
        f.model.setSelection(all); // the menu takes the selection; gain alone fixes quiet.wav
        const auto at = [&](int row) {
            return table.visualRect(table.model()->index(row, 0)).center();
        };
        QMenu* menu = contextMenuAt(table, at(0));
        QVERIFY(menu);
        QCOMPARE(menu->actions()[1]->text(), "Fix with Limiter");
        menu->actions()[1]->trigger();
        menu->close();
        QVERIFY(f.settled());

        const struct {
            QString copy; ///< the copy the row shows, empty for none
            QString text; ///< what the Fix cell and report start with
            bool limited;
        } cases[] = {
            {"Episode 12 (EBU R 128, limited).wav", "−23.", true},
            {"", "Too much to limit", false},
            {"quiet (EBU R 128).wav", "−23.0 LUFS", false},
        };
        const std::vector<ReportRow> report = f.model.reportRows();
        for (int row = 0; row < 3; ++row) {
            const auto& expected = cases[row];
            const FileItem& item = f.model.items()[std::size_t(row)];
            const auto cell = cellOf(item, Column::fix);
            const QString fixText = qs(*report[std::size_t(row)].fix);
            QVERIFY2(cell.text.startsWith(expected.text), qPrintable(cell.text));
            if (expected.copy.isEmpty()) {
                QVERIFY(cell.toolTip.contains("Tavrin’s limiter takes 12.0 dB"));
                QCOMPARE(fixText, "Not fixed: " + cell.toolTip);
                continue;
            }
            QVERIFY(std::filesystem::exists(f.path(expected.copy)));
            const QString limiting = "limited by up to ";
            QCOMPARE(cell.caption.startsWith(limiting) && cell.caption.endsWith(" s"),
                     expected.limited);
            QCOMPARE(cell.toolTip.contains("; " + limiting), expected.limited);
            QCOMPARE(fixText, expected.copy + ": " + cell.text +
                                  (expected.limited ? "; " + cell.caption : QString()));
        }
        QCOMPARE(f.model.alert()->title, "Limited copies");
    }

    /// A damaged file fails, Fix leaves it alone with the reason, and Fix Anyway, chosen in its
    /// context menu, writes a copy whose record carries the damage: listed, the copy names its
    /// original and fails for the original's damage.
    void damagedAudioIsFixedOnlyWhenAsked() {
        AppFixture f;
        ResultsTable table(f.model);
        QMenuBar menuBar;
        const AppCommands commands(f.model, &menuBar);
        table.resize(1200, 400);
        table.show();
        QVERIFY(QTest::qWaitForWindowExposed(&table));
        QVERIFY(f.addAndMeasure({writeCutOffTone(f.path("Episode 12.wav"), -30)}));
        const auto menuAt = [&](int row) {
            return contextMenuAt(table, table.visualRect(table.model()->index(row, 0)).center());
        };
        const FileItem& original = f.model.items()[0];
        QVERIFY(!commands.fixAnyway->isEnabled()); // nothing selected

        QMenu* menu = menuAt(0);
        QCOMPARE(menu->actions()[2]->text(), "Fix Anyway");
        QVERIFY(menu->actions()[2]->isEnabled());
        menu->actions()[0]->trigger(); // Fix This File
        menu->close();
        QVERIFY(f.settled());
        QCOMPARE(f.model.alert()->title, qs(Workflow::damagedNotFixedTitle));
        QCOMPARE(cellOf(original, Column::fix).toolTip,
                 qs(Workflow::fixTextDamaged(original.findings())));
        QVERIFY(commands.fixAnyway->isEnabled()); // the menu selected the row

        menu = menuAt(0);
        menu->actions()[2]->trigger();
        menu->close();
        QVERIFY(f.settled());
        QCOMPARE(f.model.alert()->message,
                 qs(Workflow::fixedCopiesMessage({.written = 1, .jobs = 1, .ofDamaged = 1},
                                                 std::nullopt)));
        QCOMPARE(cellOf(original, Column::fix).caption, "copy of damaged audio");
        const auto copy = f.path("Episode 12 (EBU R 128).wav");
        const auto provenance = Provenance::read(copy);
        QVERIFY(provenance && anyDamage(provenance->findings));
        const std::string damage = original.findings().front().text; // rows move as more come

        QVERIFY(f.addAndMeasure({copy}));
        const FileItem& listed = f.model.items()[1];
        const auto verdict = f.model.verdict(listed);
        QCOMPARE(verdict->status, Verdict::Status::fail);
        QVERIFY(verdict->problems.front().starts_with("the original was damaged ("));
        QVERIFY(cellOf(listed, Column::result).toolTip.contains("The original was damaged: "));
        // Pointing at the line under the copy's name tells what was found in its original.
        const QModelIndex name = table.model()->index(1, Column::file);
        QCOMPARE(name.data(ResultsTableModel::CaptionRole).toString().left(22),
                 "Copy of Episode 12.wav");
        const QPoint line =
            CellDelegate::layout(table.visualRect(name), cellOf(listed, Column::file), table.font())
                .caption.center();
        QHelpEvent hover(QEvent::ToolTip, line, table.viewport()->mapToGlobal(line));
        QApplication::sendEvent(table.viewport(), &hover);
        QCOMPARE(QToolTip::text(), "Found in the original:\n" + qs(damage));
    }
};

TAVRIN_APP_TEST(ResultsTableTest);
#include "ResultsTableTest.moc"
