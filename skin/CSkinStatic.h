#pragma once
// A label drawn over a skin bitmap, a black fill or nothing.
//
// bitmapId -1: no background (the parent shows through); 0: black fill; any
// other value: that picture (SkinPicture) over the whole label (an unknown id
// paints nothing at all, not even the text). The text is black, starts
// int((screen height x 0.625) x 0.01) pixels below the top, and is aligned
// left, centred or right by the label's horizontal alignment (left by
// default); it wraps only when word wrap is on. User-interface thread only.

#include <QLabel>

namespace kavrel {

class CSkinStatic : public QLabel {
    Q_OBJECT

  public:
    explicit CSkinStatic(int bitmapId, QWidget* parent = nullptr);

    int bitmapId() const { return m_bitmapId; }

    // The text's distance from the top for a screen `screenHeight` high.
    static int TextOffset(int screenHeight);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int m_bitmapId;
};

}  // namespace kavrel
