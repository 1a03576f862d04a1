#pragma once

#include "PropertyBag.h"
#include "SkinPictures.h"

#include <QWidget>

#include <memory>

class SkinPicture;

// The pinstriped group panel. Its face is one large picture drawn from the
// top-left corner; the right and bottom borders are separate pieces that
// follow the edges, with a corner piece on top of both. The height is kept
// at 30 twips plus a whole number of 60-twip steps so the stripes of the
// bottom border line up with the face. Like the docking of the pieces, the
// rule is applied on resize events, which a hidden frame receives when shown.
class MacFrame : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FaceWidth = 800;
    static constexpr int FaceHeight = 598;
    static constexpr int RightWidth = 7;
    static constexpr int BottomHeight = 8;
    static constexpr int CornerWidth = 12;
    static constexpr int CornerHeight = 8;

    explicit MacFrame(QWidget *parent = nullptr);
    ~MacFrame() override;

    bool Enabled() const;
    void SetEnabled(bool enabled);

    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

    // The height, in twips, that the frame takes when given `heightTwips`.
    static int adjustedHeightTwips(int heightTwips);

    SkinPicture *picRight() const { return m_picRight; }
    SkinPicture *picBottom() const { return m_picBottom; }
    SkinPicture *picCorner() const { return m_picCorner; }
    const SkinPictures &pictures() const { return *m_pictures; }

Q_SIGNALS:
    // Pointer movement over the face or a border piece, in the frame's own
    // coordinates in twips. Button and shift use the 1/2/4 masks of
    // left/right/middle and shift/control/alt.
    void MouseMove(int button, int shift, float x, float y);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placePieces();
    void refreshPictures();
    void raiseMouseMove(const QMouseEvent *event, float xTwips, float yTwips);

    std::unique_ptr<SkinPictures> m_pictures;
    SkinPicture *m_picRight = nullptr;
    SkinPicture *m_picBottom = nullptr;
    SkinPicture *m_picCorner = nullptr;
};
