#pragma once
// A push button drawn entirely from one skin bitmap.
//
// Every paint fills the button black, draws picture `bitmapId` (SkinPicture,
// at the device's pixels) over the whole button, or over the button less its
// bottom strip when it has text and the text does not go in the middle, and
// draws the text in white. The strip is screen height x 6 / 100 (integer),
// the screen being the top-level window. Pressed, focused and disabled
// buttons look the same; a different look is a different bitmap (SetBitmap),
// or greyed (SetGreyed).
// An unknown bitmap id leaves the button black with no text. User-interface
// thread only.

#include <QPushButton>

namespace kavrel {

// Where a button's text goes.
enum TextPlacement : int {
    kTextBottomLeft = 0,    // bottom strip, left-aligned
    kTextBottomRight = 1,   // bottom strip, right-aligned
    kTextBottomCentre = 2,  // bottom strip, centred
    kTextCentre = 3,        // centred on the whole button
    // any other value: the bitmap leaves the strip free, but no text is drawn
};

class CSkinButton : public QPushButton {
    Q_OBJECT

  public:
    CSkinButton(int bitmapId, int textPlacement, QWidget* parent = nullptr);

    int bitmapId() const { return m_bitmapId; }
    int textPlacement() const { return m_textPlacement; }

    // Shows bitmap `bitmapId` from the next paint on and schedules that paint
    // for the whole button.
    void SetBitmap(int bitmapId);
    // Dimmed: the camera cannot do what the button asks (an RTSP stream has
    // no PTZ and no channels). It still takes clicks; its command does nothing.
    void SetGreyed(bool greyed);
    bool Greyed() const { return m_greyed; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int m_bitmapId;
    int m_textPlacement;
    bool m_greyed = false;
};

}  // namespace kavrel
