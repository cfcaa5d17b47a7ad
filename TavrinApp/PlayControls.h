#pragma once

#include "PlaybackFeed.h"
#include "Player.h"

#include <QWidget>
#include <optional>

class QToolButton;

namespace tavrin::app {

class AppModel;

/// The graph's play button and its Original / Copy switch, with their keys in the widgets it
/// filters the keys of: Space plays from the cursor and pauses, C switches between the copy and
/// the original. Disabled, saying why, where there is no audio output. A failure to play becomes
/// the window's notice.
class PlayControls : public QWidget {
    Q_OBJECT

public:
    PlayControls(AppModel& model, QWidget* parent = nullptr);

    /// What plays from now on: the selected row's file and its copy. Another file stops playing;
    /// the same file with another copy goes on.
    void setSource(const PlaybackSource& source, double duration);
    /// Moves the cursor to `seconds`; while playing, playing jumps there.
    void moveCursor(double seconds);
    /// Plays from `seconds`.
    void playFrom(double seconds);
    void togglePlaying();
    void toggleCopy();
    /// Where playing starts, or stands while playing.
    double cursor() const;
    bool isPlaying() const { return m_player.isPlaying(); }
    bool hearsCopy() const { return m_player.hearsCopy(); }
    const Player& player() const { return m_player; }
    /// Sizes the controls to what they show, at the top right of the graph.
    void place();

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    /// The cursor moved, or playing started or stopped.
    void cursorMoved();

private:
    void refresh();
    void stopIfGone();

    AppModel& m_model;
    Player m_player;
    PlaybackSource m_source;
    double m_duration = 0;
    double m_cursor = 0;
    QToolButton* m_play;
    QToolButton* m_original;
    QToolButton* m_copy;
};

} // namespace tavrin::app
