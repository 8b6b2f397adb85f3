#pragma once

#include "test_wave_bytes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumivox::app::test {

using namespace lumivox::test;

// Pumps the event loop until the condition holds; false after a generous limit. The limit is a
// guard against a hang, not a speed requirement.
inline bool waitUntil(const std::function<bool()>& condition, int limitMs = 30000)
{
    return QTest::qWaitFor(condition, limitMs);
}

// What a modal message box looked like when it was answered.
struct SeenBox {
    QString caption;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Answers every modal message box that opens while it lives with the given button, and notes
// each one. Runs on the GUI thread from a timer, so it also answers boxes of a nested loop.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer_ = QMessageBox::Ok)
        : answer(answer_)
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { answerOpenBox(); });
        timer.start();
    }

    void setAnswer(QMessageBox::StandardButton newAnswer) { answer = newAnswer; }
    [[nodiscard]] const std::vector<SeenBox>& seen() const { return boxes; }

private:
    void answerOpenBox()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        SeenBox seenBox;
        seenBox.caption = box->windowTitle();
        seenBox.text = box->text();
        seenBox.informativeText = box->informativeText();
        seenBox.icon = box->icon();
        seenBox.buttons = box->standardButtons();
        if (QPushButton* defaultButton = box->defaultButton())
            seenBox.defaultButton = box->standardButton(defaultButton);
        boxes.push_back(seenBox);
        if (QAbstractButton* button = box->button(answer))
            button->click();
        else
            box->reject();
    }

    QMessageBox::StandardButton answer;
    QTimer timer;
    std::vector<SeenBox> boxes;
};

// 16-bit mono samples of a tone whose loudness and pitch vary, so the vocoder has work to do.
inline std::vector<std::uint8_t> tone16(int sampleCount, int period)
{
    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(sampleCount) * 2);
    for (int i = 0; i < sampleCount; ++i) {
        const int phase = i % period;
        const int sample = (phase < period / 2 ? 1 : -1) * (2000 + (i / 97) % 8000);
        appendUint16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(sample)));
    }
    return data;
}

} // namespace lumivox::app::test
