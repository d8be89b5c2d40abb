#include "ui/follow_window.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTextBlock>
#include <QTimer>
#include <chrono>
#include <thread>

#include "log/dump_format.h"

namespace corvane::ui {

namespace {

// How long the window waits for the store's writer to put a Connection's first records in
// the file: at most 50 times 20 ms.
constexpr int kOpenWaits = 50;
constexpr int kOpenWaitMs = 20;

// The Client's bytes in dark red, the Server's in dark blue.
const QColor kClientColour(0xA0, 0x00, 0x00);
const QColor kServerColour(0x00, 0x00, 0xA0);

// The log's hex dump of a block, lines ending in LF.
QString HexDump(std::string_view bytes) {
    QString out;
    const int size = static_cast<int>(bytes.size());
    std::string lines(static_cast<std::size_t>(log::DumpLineCount(size)) * log::kDumpLineLength,
                      '\0');
    log::FormatDump(bytes.data(), 0, size, lines.data());
    out.reserve(static_cast<qsizetype>(lines.size()));
    for (std::size_t at = 0; at < lines.size(); at += log::kDumpLineLength) {
        out += QLatin1String(lines.data() + at, log::kDumpLineWidth);
        out += QLatin1Char('\n');
    }
    return out;
}

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TFollowWindow::TFollowWindow(QWidget* parent, Source source)
    : QWidget(parent, Qt::Window), source_(std::move(source)), timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("FollowWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Follow ") + source_.title);
    resize(720, 480);

    auto* column = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    ComboView = new QComboBox(this);
    ComboView->setObjectName(QStringLiteral("ComboFollowView"));
    ComboView->addItems(
        {QStringLiteral("Text"), QStringLiteral("Hex dump"), QStringLiteral("Raw")});
    CheckBlockTimes = new QCheckBox(QStringLiteral("Block &times"), this);
    CheckBlockTimes->setObjectName(QStringLiteral("CheckBlockTimes"));
    CheckBlockTimes->setChecked(true);
    EditFind = new QLineEdit(this);
    EditFind->setObjectName(QStringLiteral("EditFollowFind"));
    EditFind->setPlaceholderText(QStringLiteral("Find"));
    ButtonFind = new QPushButton(QStringLiteral("Find &Next"), this);
    ButtonFind->setObjectName(QStringLiteral("ButtonFollowFind"));
    ButtonSave = new QPushButton(QStringLiteral("&Save..."), this);
    ButtonSave->setObjectName(QStringLiteral("ButtonFollowSave"));
    auto* saveMenu = new QMenu(ButtonSave);
    saveMenu->setObjectName(QStringLiteral("MenuFollowSave"));
    connect(saveMenu->addAction(QStringLiteral("&Client's bytes...")), &QAction::triggered, this,
            [this] { Save(SaveKind::ClientBytes); });
    connect(saveMenu->addAction(QStringLiteral("&Server's bytes...")), &QAction::triggered, this,
            [this] { Save(SaveKind::ServerBytes); });
    connect(saveMenu->addAction(QStringLiteral("Conversation as &shown...")), &QAction::triggered,
            this, [this] { Save(SaveKind::Conversation); });
    ButtonSave->setMenu(saveMenu);
    row->addWidget(ComboView);
    row->addWidget(CheckBlockTimes);
    row->addWidget(EditFind, 1);
    row->addWidget(ButtonFind);
    row->addWidget(ButtonSave);
    column->addLayout(row);

    TextConversation = new QPlainTextEdit(this);
    TextConversation->setObjectName(QStringLiteral("TextConversation"));
    TextConversation->setReadOnly(true);
    TextConversation->setUndoRedoEnabled(false);
    TextConversation->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    TextConversation->setFont(font);
    column->addWidget(TextConversation, 1);
    LabelStatus = new QLabel(this);
    LabelStatus->setObjectName(QStringLiteral("LabelFollowStatus"));
    column->addWidget(LabelStatus);

    connect(ComboView, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetView(static_cast<FollowView>(index)); });
    connect(CheckBlockTimes, &QCheckBox::toggled, this, &TFollowWindow::SetBlockTimes);
    connect(ButtonFind, &QPushButton::clicked, this, &TFollowWindow::FindNext);
    connect(EditFind, &QLineEdit::returnPressed, this, &TFollowWindow::FindNext);
    connect(timer_, &QTimer::timeout, this, &TFollowWindow::Refresh);

    std::string error;
    if (!reader_.Open(source_.path, error)) {
        error_ = Utf8(error);
        return;
    }
    // What was handed over just now reaches the file from the writer's thread: a new
    // Connection's first records may need a moment.
    for (int wait = 0; wait < kOpenWaits && !reader_.Has(source_.serial); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kOpenWaitMs));
        if (!reader_.Refresh(error)) {
            break;
        }
    }
    if (!reader_.Has(source_.serial)) {
        error_ = QStringLiteral("The kept streams no longer hold this Connection's bytes");
        return;
    }
    opened_ = true;
    Refresh();
    timer_->start(kRefreshMs);
}

void TFollowWindow::SetView(FollowView view) {
    view_ = view;
    if (ComboView->currentIndex() != static_cast<int>(view)) {
        ComboView->setCurrentIndex(static_cast<int>(view));  // comes back here once
        return;
    }
    Reload();
}

void TFollowWindow::SetBlockTimes(bool on) {
    blockTimes_ = on;
    if (CheckBlockTimes->isChecked() != on) {
        CheckBlockTimes->setChecked(on);
        return;
    }
    Reload();
}

void TFollowWindow::Reload() {
    TextConversation->clear();
    blocksSeen_ = 0;
    toServer_ = 0;
    toClient_ = 0;
    truncated_ = false;
    if (opened_) {
        Refresh();
    }
}

void TFollowWindow::Refresh() {
    if (!opened_) {
        return;
    }
    const bool live = source_.live && source_.live();
    if (!live && ++refreshesAfterEnd_ > 2) {
        timer_->stop();  // what the writer still had is in the file by now
    }
    if (live && source_.handOver) {
        source_.handOver();
    }
    std::string error;
    if (!reader_.Refresh(error)) {
        LabelStatus->setText(Utf8(error));
        return;
    }
    std::int64_t index = 0;
    reader_.ForEachBlock(source_.serial, [&](const log::KeptBlock& block) {
        if (index++ < blocksSeen_) {
            return true;
        }
        ++blocksSeen_;
        auto& count = block.direction == log::StreamDirection::ToServer ? toServer_ : toClient_;
        count += static_cast<std::int64_t>(block.bytes.size());
        if (!truncated_) {
            ShowBlock(block);
        }
        return true;
    });
    UpdateStatus();
}

void TFollowWindow::ShowBlock(const log::KeptBlock& block) {
    // The heading (direction, time, size) and the text as the log's readers share them.
    std::string textBlock;
    log::AppendBlockText(block, textBlock);
    const std::size_t headingEnd = textBlock.find('\n') + 1;
    QString text;
    if (blockTimes_) {
        text = Utf8(std::string_view(textBlock).substr(0, headingEnd));
    }
    switch (view_) {
        case FollowView::Text:
            text += Utf8(std::string_view(textBlock).substr(headingEnd));
            break;
        case FollowView::Hex:
            text += HexDump(block.bytes);
            break;
        case FollowView::Raw:
            text += Utf8(block.bytes);
            break;
    }
    QTextCursor cursor(TextConversation->document());
    cursor.movePosition(QTextCursor::End);
    if (cursor.position() + text.size() > kMaxShownChars) {
        truncated_ = true;
        return;
    }
    QTextCharFormat format;
    format.setForeground(block.direction == log::StreamDirection::ToServer ? kClientColour
                                                                           : kServerColour);
    cursor.insertText(text, format);
}

void TFollowWindow::UpdateStatus() {
    const QLocale grouping(QLocale::English);
    QString status = QStringLiteral("Client to Server %1 bytes, Server to Client %2 bytes")
                         .arg(grouping.toString(static_cast<qlonglong>(toServer_)),
                              grouping.toString(static_cast<qlonglong>(toClient_)));
    if (truncated_) {
        status += QStringLiteral("; the rest is not shown (Save... writes it all)");
    }
    LabelStatus->setText(status);
}

QString TFollowWindow::ShownText() const {
    return TextConversation->toPlainText();
}

bool TFollowWindow::SaveTo(SaveKind kind, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error_ = file.errorString();
        return false;
    }
    if (kind == SaveKind::Conversation) {
        file.write(ShownText().toUtf8());
    } else {
        if (source_.live && source_.live() && source_.handOver) {
            source_.handOver();
        }
        std::string error;
        if (!reader_.Refresh(error)) {
            error_ = Utf8(error);
            file.cancelWriting();
            return false;
        }
        const auto wanted = kind == SaveKind::ClientBytes ? log::StreamDirection::ToServer
                                                          : log::StreamDirection::ToClient;
        bool written = true;
        reader_.ForEachBlock(source_.serial, [&](const log::KeptBlock& block) {
            if (block.direction == wanted) {
                const auto size = static_cast<qint64>(block.bytes.size());
                written = file.write(block.bytes.data(), size) == size;
            }
            return written;
        });
    }
    if (!file.commit()) {
        error_ = file.errorString();
        return false;
    }
    return true;
}

void TFollowWindow::Save(SaveKind kind) {
    static const char* const kCaptions[] = {"Save the Client's bytes", "Save the Server's bytes",
                                            "Save the conversation"};
    const QString path = QFileDialog::getSaveFileName(
        this, QString::fromLatin1(kCaptions[static_cast<int>(kind)]), QString(), QString(), nullptr,
        QFileDialog::DontUseNativeDialog);
    if (path.isEmpty()) {
        return;
    }
    if (!SaveTo(kind, path)) {
        LabelStatus->setText(QStringLiteral("Could not save %1: %2").arg(path, error_));
    }
}

bool TFollowWindow::FindNext() {
    const QString text = EditFind->text();
    if (text.isEmpty()) {
        return false;
    }
    if (TextConversation->find(text)) {
        return true;
    }
    QTextCursor top(TextConversation->document());
    TextConversation->setTextCursor(top);
    return TextConversation->find(text);
}

}  // namespace corvane::ui
