// The Follow window: one Connection's conversation read back from the kept streams
// (log/stream_reader.h), the Client's bytes and the Server's in two colours, as text, as the
// log's hex dump or raw, each block under a heading with its direction, time and size
// (optional), with find. While the Connection lives it reads what the store has added every
// half second. Save... writes the Client's bytes or the Server's, exactly as passed on, or the
// conversation as shown.
//
// What it shows is bounded (kMaxShownChars); Save writes everything the store holds.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "log/connection_serial.h"
#include "log/stream_reader.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace corvane::ui {

enum class FollowView { Text, Hex, Raw };
enum class SaveKind { ClientBytes, ServerBytes, Conversation };

class TFollowWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxShownChars = 8 << 20;
    static constexpr int kRefreshMs = 500;

    struct Source {
        std::string path;  // the store's file
        log::ConnectionSerial serial = log::kNoConnection;
        QString title;  // "Connection 5: 127.0.0.1:50312 to 127.0.0.1:8080"
        // Hands what the store has built to its writer (so that the file gets it soon).
        std::function<void()> handOver;
        // True while the Connection lives (the window reads on).
        std::function<bool()> live;
    };

    // Opens the store; Opened() tells whether it holds the Connection (else Error()).
    TFollowWindow(QWidget* parent, Source source);

    bool Opened() const { return opened_; }
    const QString& Error() const { return error_; }
    log::ConnectionSerial Serial() const { return source_.serial; }

    void SetView(FollowView view);
    void SetBlockTimes(bool on);
    // Reads what the store has added and shows it.
    void Refresh();
    // The conversation as shown.
    QString ShownText() const;
    // Writes one kind to a file; false with Error() set when it cannot.
    bool SaveTo(SaveKind kind, const QString& path);
    // Asks for a file name (a non-native dialog) and saves there.
    void Save(SaveKind kind);
    // Finds the next match of the find box's text, from the end round to the top.
    bool FindNext();

    QComboBox* ComboView;
    QCheckBox* CheckBlockTimes;
    QLineEdit* EditFind;
    QPushButton* ButtonFind;
    QPushButton* ButtonSave;
    QPlainTextEdit* TextConversation;
    QLabel* LabelStatus;

private:
    // Everything again (the view or the headings changed).
    void Reload();
    void ShowBlock(const log::KeptBlock& block);
    void UpdateStatus();

    Source source_;
    log::StreamReader reader_;
    bool opened_ = false;
    QString error_;
    FollowView view_ = FollowView::Text;
    bool blockTimes_ = true;
    std::int64_t blocksSeen_ = 0;
    std::int64_t toServer_ = 0;
    std::int64_t toClient_ = 0;
    bool truncated_ = false;
    int refreshesAfterEnd_ = 0;
    QTimer* timer_;
};

}  // namespace corvane::ui
