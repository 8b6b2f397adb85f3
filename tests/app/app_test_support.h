#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace lumivox::app::test {

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

// A canonical 44-byte-header PCM wave file built from bytes.
inline void writeWaveFile(const std::string& path, int channels, int sampleRate, int bitsPerSample,
    const std::vector<std::uint8_t>& data)
{
    auto put16 = [](std::vector<std::uint8_t>& out, unsigned value) {
        out.push_back(static_cast<std::uint8_t>(value & 0xff));
        out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xff));
    };
    auto put32 = [&](std::vector<std::uint8_t>& out, std::uint32_t value) {
        put16(out, value & 0xffff);
        put16(out, value >> 16);
    };
    const auto blockAlign = static_cast<unsigned>(channels * bitsPerSample / 8);
    std::vector<std::uint8_t> bytes { 'R', 'I', 'F', 'F' };
    put32(bytes, static_cast<std::uint32_t>(36 + data.size()));
    for (char c : std::string("WAVEfmt "))
        bytes.push_back(static_cast<std::uint8_t>(c));
    put32(bytes, 16);
    put16(bytes, 1);
    put16(bytes, static_cast<unsigned>(channels));
    put32(bytes, static_cast<std::uint32_t>(sampleRate));
    put32(bytes, static_cast<std::uint32_t>(sampleRate) * blockAlign);
    put16(bytes, blockAlign);
    put16(bytes, static_cast<unsigned>(bitsPerSample));
    for (char c : std::string("data"))
        bytes.push_back(static_cast<std::uint8_t>(c));
    put32(bytes, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// 16-bit mono samples of a tone whose loudness and pitch vary, so the vocoder has work to do.
inline std::vector<std::uint8_t> tone16(int sampleCount, int period)
{
    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(sampleCount) * 2);
    for (int i = 0; i < sampleCount; ++i) {
        const int phase = i % period;
        const int sample = (phase < period / 2 ? 1 : -1) * (2000 + (i / 97) % 8000);
        const auto word = static_cast<std::uint16_t>(static_cast<std::int16_t>(sample));
        data.push_back(static_cast<std::uint8_t>(word & 0xff));
        data.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    return data;
}

inline std::vector<std::uint8_t> readBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

inline std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes.at(at))
        | static_cast<std::uint32_t>(bytes.at(at + 1)) << 8
        | static_cast<std::uint32_t>(bytes.at(at + 2)) << 16
        | static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

} // namespace lumivox::app::test
