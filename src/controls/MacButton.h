#pragma once

#include "PropertyBag.h"
#include "SkinPictures.h"

#include <QAbstractButton>
#include <QTimer>

#include <functional>
#include <memory>

class QLabel;

// The pill-shaped glossy push button. It lights up under the pointer and,
// since it gets no reliable leave notice, polls the pointer while lit to find
// out when to go dark again. MacButtonD is the same button drawn on a darker
// backdrop.
class MacButton : public QAbstractButton
{
    Q_OBJECT

public:
    static constexpr int HeightTwips = 345;
    static constexpr int WidthTwips = 1095;
    static constexpr int LongWidthTwips = 1500;
    // The caption label is this much narrower than the button.
    static constexpr int CaptionMarginTwips = 285;
    static constexpr int PollIntervalMs = 25;
    static constexpr quint32 CaptionColor = 1184274;         // 18, 18, 18
    static constexpr quint32 DisabledCaptionColor = 7500402; // 114, 114, 114
    static inline const QString DefaultCaption = QStringLiteral("Button");

    explicit MacButton(QWidget *parent = nullptr);
    ~MacButton() override;

    // Pointer position in the client pixels of `window`, or in screen pixels
    // when `window` is null.
    int MouseX(const QWidget *window) const;
    int MouseY(const QWidget *window) const;

    QString Caption() const;
    void SetCaption(const QString &caption);
    bool LongStyle() const { return m_longStyle; }
    void SetLongStyle(bool longStyle);
    // The button's own enabled flag; a disabled container does not change it.
    bool Enabled() const;
    void SetEnabled(bool enabled);

    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

    bool Hovering() const { return m_hovering; }
    const QTimer *TimerMouseTrack() const { return &m_timerMouseTrack; }
    QLabel *ButtonCaption() const { return m_buttonCaption; }
    QString currentPicture() const { return m_currentPicture; }
    const SkinPictures &pictures() const { return *m_pictures; }

    // Where the pointer polls read the cursor; an empty function restores
    // QCursor::pos(). Tests use this because a headless cursor never moves.
    static void setCursorSource(std::function<QPoint()> source);

Q_SIGNALS:
    void Click();

protected:
    enum class Backdrop { Light, Dark };
    MacButton(QWidget *parent, Backdrop backdrop);

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void showLook(QChar look);
    // A lit look always has a poll running to take it away again.
    void light(QChar look);
    void darken();
    void placeCaption();
    void colourCaption();
    void applyFixedSize();
    void trackMouse();

    std::unique_ptr<SkinPictures> m_pictures;
    QLabel *m_buttonCaption = nullptr;
    QTimer m_timerMouseTrack;
    QString m_currentPicture;
    bool m_hovering = false;
    bool m_longStyle = false;
    int m_lastMouseX = 0;
    int m_lastMouseY = 0;
};
