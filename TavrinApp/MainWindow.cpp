#include "MainWindow.h"

#include "AppCommands.h"
#include "AppTexts.h"
#include "CustomTargetSheet.h"
#include "DropZone.h"
#include "FilterBar.h"
#include "GraphPanel.h"
#include "NoticeBar.h"
#include "Paths.h"
#include "PdfReportSheet.h"
#include "PlayControls.h"
#include "PresetBox.h"
#include "PresetFooter.h"
#include "ResultsTable.h"
#include "TargetsWindow.h"
#include "Theme.h"
#include "ToneLabel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace tavrin::app {

namespace {

/// The accent border drawn over a non-empty list while files are dragged over the window. It
/// lets every click through.
class DropOverlay : public QWidget {
public:
    explicit DropOverlay(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        parent->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Theme::colour(Tone::accent, palette()), 3));
        // Inset 4 on every edge, with the 3-wide stroke inside the rounded rectangle.
        painter.drawRoundedRect(QRectF(rect()).adjusted(5.5, 5.5, -5.5, -5.5), 10, 10);
    }
};

std::vector<std::filesystem::path> localFiles(const QMimeData& data) {
    std::vector<std::filesystem::path> files;
    for (const QUrl& url : data.urls())
        if (url.isLocalFile())
            files.push_back(localPath(url));
    return files;
}

} // namespace

void styleAlert(QMessageBox& box) {
    if (auto* title = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        title->setFont(Theme::headline());
    if (auto* message = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        message->setMinimumWidth(380);
    for (QAbstractButton* button : box.buttons())
        button->setIcon({});
}

namespace {

QString presetOption(const DeliverySpec& spec) {
    return QString::fromStdString(spec.name) + (spec.caution ? " (check before relying)" : "");
}

} // namespace

MainWindow::MainWindow(AppModel& model, QWidget* parent)
    : QMainWindow(parent), m_model(model), m_commands(new AppCommands(model, menuBar())),
      m_notice(new NoticeBar(model)), m_body(new QStackedWidget), m_dropZone(new DropZone(model)),
      m_table(new ResultsTable(model)), m_filterBar(new FilterBar(m_table->view())),
      m_graph(new GraphPanel(model)), m_tableArea(tableOverGraph(m_table, m_graph)),
      m_footer(new PresetFooter(model)) {
    setObjectName(QStringLiteral("main"));
    setMinimumSize(900, 520);
    resize(1180, 720);
    setAcceptDrops(true);
    setUnifiedTitleAndToolBarOnMac(true);

    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(m_notice);
    stack->addWidget(m_filterBar);
    m_body->addWidget(m_dropZone);
    m_body->addWidget(m_tableArea);
    stack->addWidget(m_body, 1);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    stack->addWidget(divider);
    stack->addWidget(m_footer);
    setCentralWidget(content);
    m_overlay = new DropOverlay(content);
    buildToolbar();
    connectFilter();

    connect(&m_buttonsPending, &QTimer::timeout, this, &MainWindow::refreshButtons);
    connect(&model, &AppModel::itemChanged, this, [this] { m_buttonsPending.request(); });
    for (auto changed : {&AppModel::selectionChanged, &AppModel::fixingChanged})
        connect(&model, changed, this, &MainWindow::refreshButtons);
    for (auto changed :
         {&AppModel::itemsInserted, &AppModel::itemsRemoved, &AppModel::dropTargetedChanged})
        connect(&model, changed, this, &MainWindow::showList);
    connect(&model, &AppModel::specIDChanged, this, &MainWindow::showPreset);
    connect(&model, &AppModel::customSpecsChanged, this, &MainWindow::fillPresetBox);
    connect(m_commands, &AppCommands::customTargetRequested, this, &MainWindow::chooseCustomTarget);
    connect(m_table, &ResultsTable::playRequested, m_graph, &GraphPanel::playFrom);
    m_table->installEventFilter(&m_graph->playControls()); // Space and C play from the list too
    connect(m_commands, &AppCommands::manageTargetsRequested, this, [this] { manageTargets(); });
    connect(&model, &AppModel::alertChanged, this, &MainWindow::showAlert);
    connect(m_commands, &AppCommands::clearListRequested, this, [this] {
        if (stopFixingFirst())
            m_model.clearList();
    });
    connect(m_commands, &AppCommands::openSessionRequested, this, &MainWindow::openSession);
    connect(m_commands, &AppCommands::exportPDFRequested, this, &MainWindow::exportPDF);
    connect(&model, &AppModel::sessionChanged, this, &MainWindow::showTitle);
    showPreset();
    showList();
}

void MainWindow::showTitle() {
    const auto& session = m_model.sessionPath();
    setWindowTitle(AppTexts::windowTitle(session ? toQString(session->filename()) : QString(),
                                         qs(m_model.currentSpec().name)));
    setWindowModified(session && m_model.sessionModified());
}

void MainWindow::openSession(const std::filesystem::path& session) {
    const auto open = [this, session] {
        if (session.empty())
            m_model.chooseSession();
        else
            m_model.openSession(session);
    };
    if (stopFixingFirst() && saveChangesFirst(open))
        open();
}

bool MainWindow::saveChangesFirst(const std::function<void()>& retry) {
    const auto& session = m_model.sessionPath();
    if (!session || !m_model.sessionModified())
        return true;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tavrin"),
                    AppTexts::saveChangesQuestion(toQString(session->filename())),
                    QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(AppTexts::saveChangesCost());
    QPushButton* save = box.addButton(QStringLiteral("Save"), QMessageBox::AcceptRole);
    QPushButton* discard =
        box.addButton(QStringLiteral("Don’t Save"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    styleAlert(box);
    box.exec();
    if (box.clickedButton() == save)
        m_model.saveSession(retry);
    return box.clickedButton() == discard;
}

void MainWindow::buildToolbar() {
    QToolBar* bar = addToolBar(QStringLiteral("Toolbar"));
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->toggleViewAction()->setVisible(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize({16, 16});
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    bar->setStyleSheet(QStringLiteral("QToolBar { padding: 4px 8px; spacing: 6px; }"));

    m_preset = new PresetBox;
    m_preset->setMinimumWidth(210);
    m_preset->setToolTip(QStringLiteral("The delivery spec every file is checked against"));
    m_preset->setAccessibleName(QStringLiteral("Preset"));
    fillPresetBox();
    connect(m_preset, &QComboBox::activated, this, [this](int index) {
        const QVariant id = m_preset->itemData(index);
        // "Custom…" and "Manage Targets…" ask first; the box keeps showing the current target.
        if (id.typeId() == QMetaType::Int) {
            showPreset();
            if (id.toInt() == customItem)
                chooseCustomTarget();
            else
                manageTargets();
            return;
        }
        m_model.setSpecID(id.toString().toStdString());
    });
    bar->addWidget(m_preset);

    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);

    const auto button = [bar](Symbol symbol, const QString& text, const QString& help) {
        auto* tool = new SymbolButton(symbol, Tone::primary, 16);
        tool->setText(text);
        tool->setToolTip(help);
        tool->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        bar->addWidget(tool);
        return tool;
    };
    const QString openKey = QKeySequence(Qt::CTRL | Qt::Key_O).toString(QKeySequence::NativeText);
    m_add = button(Symbol::plus, QStringLiteral("Add Files"),
                   "Add audio files or folders (" + openKey + ")");
    connect(m_add, &QToolButton::clicked, &m_model, &AppModel::chooseFiles);
    m_fix = button(Symbol::sliders, QStringLiteral("Fix"), {});
    connect(m_fix, &QToolButton::clicked, &m_model, &AppModel::fixFiles);
    m_export = button(Symbol::share, QStringLiteral("Export"),
                      QStringLiteral("Save the results as a CSV spreadsheet or a PDF report"));
    auto* exportMenu = new QMenu(m_export);
    exportMenu->addAction(QStringLiteral("CSV Spreadsheet…"), &m_model, &AppModel::exportCSV);
    exportMenu->addAction(QStringLiteral("PDF Report…"), this, &MainWindow::exportPDF);
    m_export->setMenu(exportMenu);
    m_export->setPopupMode(QToolButton::InstantPopup);
    m_export->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    // Tab runs as the window reads: the preset, the toolbar's buttons, then the list.
    setTabOrder(m_preset, m_add);
    setTabOrder(m_add, m_fix);
    setTabOrder(m_fix, m_export);
    setTabOrder(m_export, m_table);
}

void MainWindow::fillPresetBox() {
    const QSignalBlocker quiet(m_preset);
    m_preset->clear();
    for (const DeliverySpec& spec : DeliverySpec::all())
        m_preset->addItem(presetOption(spec), QString::fromStdString(spec.id));
    m_preset->insertSeparator(m_preset->count());
    for (const DeliverySpec& spec : m_model.customSpecs())
        m_preset->addItem(customTargetOption(spec), QString::fromStdString(spec.id));
    for (const DeliverySpec& spec : m_model.namedTargets()) {
        m_preset->addItem(qs(spec.name), QString::fromStdString(spec.id));
        m_preset->setItemData(m_preset->count() - 1, qs(spec.ruleText()), Qt::ToolTipRole);
    }
    if (!m_model.customSpecs().empty() || !m_model.namedTargets().empty())
        m_preset->insertSeparator(m_preset->count());
    m_preset->addItem(QStringLiteral("Custom…"), customItem);
    m_preset->addItem(QStringLiteral("Manage Targets…"), manageItem);
    m_preset->setCurrentIndex(m_preset->findData(QString::fromStdString(m_model.currentSpec().id)));
}

void MainWindow::exportPDF() {
    auto* sheet = new PdfReportSheet(m_model.signOff(), m_model.graphsInReports(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::accepted, this, [this, sheet] {
        m_model.setReportOptions(sheet->signOff(), sheet->graphs());
        m_model.exportPDF();
    });
    sheet->open();
}

void MainWindow::chooseCustomTarget() {
    auto* sheet = new CustomTargetSheet(m_model.currentSpec(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::accepted, this,
            [this, sheet] { m_model.setSpecID(sheet->spec()->id); });
    sheet->open();
}

TargetsWindow& MainWindow::manageTargets() {
    if (!m_targets) {
        m_targets = new TargetsWindow(m_model, this);
        m_targets->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_targets->show();
    m_targets->raise();
    m_targets->activateWindow();
    return *m_targets;
}

void MainWindow::connectFilter() {
    ResultsView& view = m_table->view();
    connect(m_footer, &PresetFooter::filterRequested, &view, &ResultsView::setFilter);
    connect(&view, &ResultsView::filterChanged, this,
            [this, &view] { m_footer->showFilter(view.filter()); });
    // A new list starts unfiltered.
    connect(&m_model, &AppModel::itemsRemoved, this, [this, &view] {
        if (m_model.items().empty())
            view.setFilter(RowFilter::all);
    });
}

void MainWindow::showPreset() {
    const DeliverySpec& spec = m_model.currentSpec();
    m_preset->setCurrentIndex(m_preset->findData(QString::fromStdString(spec.id)));
    showTitle();
    refreshButtons();
}

void MainWindow::showList() {
    const bool empty = m_model.items().empty();
    m_body->setCurrentWidget(empty ? m_dropZone : m_tableArea);
    m_overlay->setVisible(m_model.dropTargeted() && !empty);
    m_overlay->raise();
    refreshButtons();
}

void MainWindow::refreshButtons() {
    m_buttonsPending.stop();
    m_fix->setEnabled(canFix(m_model));
    m_fix->setToolTip(m_model.selection().isEmpty()
                          ? QStringLiteral("Write gain-only copies of every failing file at the "
                                           "target")
                          : QStringLiteral("Write gain-only copies of the selected failing files"));
    m_export->setEnabled(canExport(m_model));
}

QMessageBox* MainWindow::alertBox() const {
    return m_alert && m_alert->isVisible() ? m_alert : nullptr;
}

bool MainWindow::dropOverlayShown() const {
    return m_overlay->isVisibleTo(this);
}

void MainWindow::showAlert() {
    const auto& alert = m_model.alert();
    if (!alert) {
        if (m_alert)
            m_alert->close();
        return;
    }
    if (!m_alert) {
        m_alert = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Tavrin"), {},
                                  QMessageBox::Ok, this);
        m_alert->setTextFormat(Qt::PlainText);
        m_alert->setWindowModality(Qt::WindowModal);
        connect(m_alert, &QMessageBox::finished, &m_model, &AppModel::dismissAlert);
    }
    m_alert->setText(alert->title);
    m_alert->setInformativeText(alert->message);
    styleAlert(*m_alert);
    m_alert->open();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls())
        return;
    event->acceptProposedAction();
    m_model.setDropTargeted(true);
}

void MainWindow::dragLeaveEvent(QDragLeaveEvent*) {
    m_model.setDropTargeted(false);
}

void MainWindow::dropEvent(QDropEvent* event) {
    m_model.setDropTargeted(false);
    event->acceptProposedAction();
    m_model.addFiles(localFiles(*event->mimeData()));
}

bool MainWindow::stopFixingFirst() {
    if (!m_model.fixing())
        return true;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tavrin"), QStringLiteral("Stop fixing?"),
                    QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(m_model.stopFixingMessage());
    QPushButton* stop = box.addButton(QStringLiteral("Stop Fixing"), QMessageBox::DestructiveRole);
    QPushButton* keep = box.addButton(QStringLiteral("Keep Fixing"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    styleAlert(box);
    box.exec();
    if (box.clickedButton() != stop)
        return false;
    m_model.stopFixing();
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!stopFixingFirst() || !saveChangesFirst([this] { close(); })) {
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

} // namespace tavrin::app
