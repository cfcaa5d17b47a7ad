#pragma once

#include "AppModel.h"
#include "Theme.h"

#include <QAbstractTableModel>
#include <optional>

namespace tavrin::app {

/// The results table's rows over `AppModel`'s list: one row per file, in list order, never
/// sorted. A row's cells are worked out on demand from the row, the current preset and how damage
/// counts, so a change of either re-judges every row without storing anything. Only rows that
/// changed are signalled.
class ResultsTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        result,
        file,
        integrated,
        difference,
        truePeak,
        range,
        maxShortTerm,
        samplePeak,
        fix
    };
    static constexpr int columns = fix + 1;

    /// Everything a cell shows; the delegate paints it and the item roles expose it.
    struct Cell {
        QString text;
        Tone tone = Tone::primary;
        bool semibold = false;
        bool monospacedDigits = false;
        std::optional<Symbol> symbol{};
        Tone symbolTone = Tone::primary;
        std::optional<double> progress{}; ///< a progress ring: 0…1, or −1 while indeterminate
        QString caption{};                ///< a second, smaller line (the file's format)
        QString captionToolTip{};         ///< said over the caption line alone, when set
        QString toolTip{};
        QString accessibleText{};
        bool warningMark = false;  ///< a caution mark after the text: the reading has findings
        bool revealButton = false; ///< a button that shows the fixed copy in the file browser
        QString revealToolTip{};
        Qt::Alignment alignment = Qt::AlignLeft;
    };

    /// Roles beyond Qt's, for tests and accessibility tools that read the table by role.
    enum Role { ToneRole = Qt::UserRole, SemiboldRole, SymbolRole, ProgressRole, CaptionRole };

    /// What `column` of `item` shows under `spec`, its damage judged by `damage`.
    static Cell cell(const FileItem& item, const DeliverySpec& spec, DamagePolicy damage,
                     Column column);

    explicit ResultsTableModel(AppModel& model, QObject* parent = nullptr);

    Cell cell(const QModelIndex& index) const;
    QUuid idAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void rowsChanged(int first, int last);

    AppModel& m_model;
};

} // namespace tavrin::app
