#pragma once

// The quiz window. It holds the whole state of one quiz: the five pairs read from pirvel.ini,
// which image box shows which pair's picture, and how many signs are still to be answered.
// Every action is one handler run to completion; the handlers yield to the event loop only at
// processPendingEvents(), so a click waiting in the queue is judged there and nowhere else.

#include "common/formarray.h"

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class Form2;
class Gauge;
class ImageBox;
class MediaWindow;
class QFrame;
class QToolButton;
class ScaleLabel;

namespace quiz {

class Form1 : public QWidget
{
    Q_OBJECT
public:
    Form1();
    ~Form1() override;

    MediaWindow *MCIWnd1 = nullptr;
    QFrame *Panel3D1 = nullptr;
    Gauge *Gauge1 = nullptr;
    QToolButton *Command3D2 = nullptr;
    QToolButton *Command3D1 = nullptr;
    std::array<ImageBox *, 5> Image1{};
    ScaleLabel *Label1 = nullptr;

    qint16 Remaining = 0;
    FormArray<qint16> SlotOf;
    FormArray<QString> SignFiles;
    FormArray<QString> PictureFiles;
    qint16 HideOnCorrect = 0;

    void Form_Load();
    void Form_Unload();
    void Command3D1_Click();
    void Command3D2_Click();
    void Image1_Click(qint16 index);

    void ReadPairingFile();
    void ShuffleSlots();

    // The deal's random source: a draw in [0, 1), reseeded from the clock by Randomize().
    std::function<void()> Randomize;
    std::function<float()> Rnd;

    // The backdrop while it is loaded.
    Form2 *backdrop() const { return m_backdrop.get(); }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    ImageBox *imageBox(int index) const;
    void beginPlacement(bool eventPass);
    void fitAndPlace();
    void keepFocusOnPictures(int leaving);
    void playClosingVideo();

    // Set once the closing sequence has begun: closing the window then ends the program.
    bool m_closing = false;
    std::unique_ptr<Form2> m_backdrop;
};

} // namespace quiz
