#pragma once

#include "AppModel.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSettings;
class QTabWidget;

namespace tavrin::app {

/// The settings window: counting mono as dual mono, whether damaged audio fails a file, and where
/// fixed copies go (General), and what
/// Tavrin does with the user's audio (Privacy). The controls only show and set the model's
/// settings; the chosen tab and the window's place are remembered, and it opens over the middle
/// of `parent` the first time. Esc and Ctrl+W close it.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    /// Keeps the selected tab and the window's place in `settings` when given.
    SettingsWindow(AppModel& model, QSettings* settings, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    QCheckBox* dualMonoToggle() const { return m_dualMono; }
    /// "Fails the file" or "Only warns", in the order of DamagePolicy.
    QComboBox* damagePicker() const { return m_damage; }
    QComboBox* sessionVerifyPicker() const { return m_sessionVerify; }
    QComboBox* destinationPicker() const { return m_destination; }
    QComboBox* copyFormatPicker() const { return m_copyFormat; }
    QComboBox* whenGainCantPicker() const { return m_whenGainCant; }
    /// The sentence under the fixed-copy settings, which says what a copy keeps.
    QString copiesText() const;
    /// The "Folder" row's path, empty while the row is hidden.
    QString folderText() const;
    QPushButton* changeFolderButton() const { return m_change; }

protected:
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void placeWindow();
    void tintTabIcons();
    QWidget* makeGeneralTab();
    QWidget* makeReportsTab();
    QWidget* makePrivacyTab();
    void showSettings();
    void destinationChosen(int index);

    AppModel& m_model;
    QSettings* m_settings;
    QTabWidget* m_tabs;
    QComboBox* m_paper = nullptr;
    QCheckBox* m_dualMono = nullptr;
    QComboBox* m_damage = nullptr;
    QComboBox* m_sessionVerify = nullptr;
    QComboBox* m_whenGainCant = nullptr;
    QComboBox* m_destination = nullptr;
    QComboBox* m_copyFormat = nullptr;
    QLabel* m_copiesText = nullptr;
    QWidget* m_folderRow = nullptr;
    QLabel* m_folderLabel = nullptr;
    QLabel* m_folder = nullptr;
    QPushButton* m_change = nullptr;
};

} // namespace tavrin::app
