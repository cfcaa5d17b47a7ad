#pragma once

#include "AppModel.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tavrin::app {

class TargetFields;

/// Manage Targets: the named targets listed on the left, the chosen one's name and numbers on the
/// right with the same checks as Custom…, and New, Duplicate, Delete, Import… and Export…. Save
/// keeps an edit; choosing another target keeps it too when it is right, and otherwise stays to
/// say what is wrong. Esc and Ctrl+W close the window.
class TargetsWindow : public QWidget {
    Q_OBJECT

public:
    explicit TargetsWindow(AppModel& model, QWidget* parent = nullptr);

    QListWidget* list() const { return m_list; }
    QLineEdit* nameField() const { return m_name; }
    QLabel* nameProblem() const { return m_nameProblem; }
    TargetFields* fields() const { return m_fields; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* newButton() const { return m_new; }
    QPushButton* duplicateButton() const { return m_duplicate; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* exportButton() const { return m_export; }
    QPushButton* importButton() const { return m_import; }

    /// Keeps the edit of the chosen target; false after saying what is wrong.
    bool save();

private:
    void fillList();
    void select(const std::string& id);
    void showTarget();
    /// The chosen target's id; empty when there is none.
    std::string chosenID() const;
    void addTarget(DeliverySpec target);
    void setEdited(bool edited);

    AppModel& m_model;
    QListWidget* m_list;
    QLineEdit* m_name;
    QLabel* m_nameProblem;
    TargetFields* m_fields;
    QPushButton* m_new;
    QPushButton* m_duplicate;
    QPushButton* m_delete;
    QPushButton* m_import;
    QPushButton* m_export;
    QPushButton* m_save;
    QWidget* m_editor;
    std::string m_shown; ///< the id the editor shows
    bool m_edited = false;
};

} // namespace tavrin::app
