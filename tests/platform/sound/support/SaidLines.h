#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <utility>

namespace zivra::platform::sound {

// The log lines that hold a text, counted while the object lives; they are
// still shown. One at a time; made and destroyed on the main thread, counts
// lines from any thread.
class SaidLines {
public:
    explicit SaidLines(QString text) : text_(std::move(text)) {
        counting = this;
        previous = qInstallMessageHandler(&SaidLines::onMessage);
    }
    ~SaidLines() {
        qInstallMessageHandler(previous);
        counting = nullptr;
    }
    SaidLines(const SaidLines&) = delete;
    SaidLines& operator=(const SaidLines&) = delete;

    int count() const { return count_; }

private:
    static void onMessage(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
        if (SaidLines* said = counting; said && message.contains(said->text_)) {
            ++said->count_;
        }
        previous(type, context, message);
    }

    static inline std::atomic<SaidLines*> counting = nullptr;
    static inline QtMessageHandler previous = nullptr;
    QString text_;
    std::atomic<int> count_{0};
};

} // namespace zivra::platform::sound
