#include "PlayControls.h"

#include "AppModel.h"
#include "AppTexts.h"
#include "Theme.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMediaDevices>
#include <QToolButton>
#include <filesystem>

namespace tavrin::app {

namespace {

QToolButton* switchButton(const QString& text, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setFont(Theme::caption());
    button->setToolTip(AppTexts::hearCopyTip());
    return button;
}

} // namespace

PlayControls::PlayControls(AppModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_play(new QToolButton(this)),
      m_original(switchButton(QStringLiteral("Original"), this)),
      m_copy(switchButton(QStringLiteral("Copy"), this)) {
    m_play->setObjectName(QStringLiteral("play"));
    m_play->setAutoRaise(true);
    m_play->setAccessibleName(QStringLiteral("Play"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_original);
    layout->addWidget(m_copy);
    layout->addSpacing(6);
    layout->addWidget(m_play);
    auto* group = new QButtonGroup(this);
    group->addButton(m_original);
    group->addButton(m_copy);
    m_original->setChecked(true);
    connect(m_play, &QToolButton::clicked, this, &PlayControls::togglePlaying);
    connect(m_copy, &QToolButton::clicked, this, [this] { m_player.hearCopy(true); });
    connect(m_original, &QToolButton::clicked, this, [this] { m_player.hearCopy(false); });

    connect(&m_player, &Player::positionChanged, this, [this](double seconds) {
        m_cursor = seconds;
        stopIfGone();
        emit cursorMoved();
    });
    connect(&m_player, &Player::playingChanged, this, &PlayControls::refresh);
    connect(&m_player, &Player::failed, this,
            [this](const PlaybackSource& source, const QString& reason) {
                m_model.showNotice(AppTexts::cantPlay(
                    QString::fromStdString(source.original.filename().string()), reason));
            });
    connect(new QMediaDevices(this), &QMediaDevices::audioOutputsChanged, this,
            &PlayControls::refresh);
    refresh();
}

void PlayControls::setSource(const PlaybackSource& source, double duration) {
    m_duration = duration;
    if (source.original != m_source.original) {
        m_player.stop();
        m_cursor = 0;
        m_source = source;
    } else if (!(source == m_source)) {
        m_source = source;
        if (m_player.isPlaying())
            m_player.play(m_source, m_player.position());
    }
    refresh();
    emit cursorMoved();
}

void PlayControls::moveCursor(double seconds) {
    m_cursor = std::clamp(seconds, 0.0, m_duration);
    if (m_player.isPlaying())
        m_player.play(m_source, m_cursor);
    emit cursorMoved();
}

void PlayControls::playFrom(double seconds) {
    m_cursor = std::clamp(seconds, 0.0, m_duration);
    if (m_play->isEnabled())
        m_player.play(m_source, m_cursor);
    emit cursorMoved();
}

bool PlayControls::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !isVisible())
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() != Qt::NoModifier)
        return false;
    // Keys that would do nothing here stay the list's: Space selects, C searches.
    if (key->key() == Qt::Key_Space && m_play->isEnabled())
        togglePlaying();
    else if (key->key() == Qt::Key_C && m_copy->isVisible() && m_copy->isEnabled())
        toggleCopy();
    else
        return false;
    return true;
}

void PlayControls::togglePlaying() {
    if (m_player.isPlaying()) {
        m_player.pause();
    } else if (m_play->isEnabled()) {
        const bool atEnd = m_cursor >= m_duration - 0.05;
        m_player.play(m_source, atEnd ? 0 : m_cursor);
    }
}

void PlayControls::toggleCopy() {
    if (!m_copy->isVisible())
        return;
    m_player.hearCopy(!m_player.hearsCopy());
    refresh();
}

double PlayControls::cursor() const {
    return m_player.isPlaying() ? m_player.position() : m_cursor;
}

/// Stops playing a file that is no longer there, which its open handle would go on reading.
void PlayControls::stopIfGone() {
    std::error_code error;
    if (!m_player.isPlaying() || std::filesystem::exists(m_source.original, error))
        return;
    m_player.pause();
    m_model.showNotice(AppTexts::cantPlay(
        QString::fromStdString(m_source.original.filename().string()), AppTexts::fileGone()));
}

void PlayControls::refresh() {
    const bool output = Player::outputAvailable();
    const bool playable = output && !m_source.original.empty();
    m_play->setEnabled(playable);
    m_play->setToolTip(output ? AppTexts::playTip() : AppTexts::noAudioOutput());
    const bool playing = m_player.isPlaying();
    m_play->setIcon(Theme::symbolIcon(playing ? Symbol::pause : Symbol::play,
                                      palette().color(QPalette::ButtonText)));
    m_play->setAccessibleName(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    const bool copy = !m_source.copy.empty();
    m_original->setVisible(copy);
    m_copy->setVisible(copy);
    m_original->setEnabled(output);
    m_copy->setEnabled(output);
    (m_player.hearsCopy() ? m_copy : m_original)->setChecked(true);
    place();
}

void PlayControls::place() {
    adjustSize();
    if (parentWidget())
        move(parentWidget()->width() - width() - 4, 0);
}

} // namespace tavrin::app
